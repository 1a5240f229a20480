#pragma once

// The object names: ObjectNameCount records, one block each (objectNameBlock).

#include "SettingTable.h"

using ObjectNameList = std::array<QByteArray, ObjectNameCount>; // index 0 is name 1

// The row of name 1; name n lies in objectNameBlock(n) at the same offset.
inline constexpr SettingRow<QByteArray> ObjectNameRow =
    SettingRow<QByteArray>("objectName", objectNameBlock(1), 0, Codec::ObjectName)
        .entry({0, MaxObjectNameLength})
        .file("objectNames")
        .field(whole<QByteArray>());

inline constexpr SettingTable<QByteArray, 1> NamesRows{ObjectNameRow};
