#pragma once

// One description per setting. Each area of the unit (network, G50, BACnet,
// object names, status, identity) has a table of rows in its own header; a
// row says where the setting lives (block and offset), how its registers
// carry it (codec), which entries are accepted, its names in ravelinctl, in
// the configuration file, in the report and in `ravelinctl show`, and how to
// reach it in the area's value type. The register operations, the page
// rules, ravelinctl, the configuration file and the report walk these rows,
// so a setting is described here once.

#include "Codecs.h"
#include "RegisterMap.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <variant>

using MacOctets = std::array<std::uint16_t, 6>;

// How a setting's registers carry its value. The width in registers follows
// from the codec (codecWidth).
enum class Codec
{
    Octets,     // four registers, one octet each: an address
    Word,       // one register, its value as it is
    BoolAsOne,  // one register: only 1 reads as on; on sends 1, off 0
    LockWord,   // one register: ConfigLockedWord reads as off, anything else on;
                // on sends 0, off ConfigLockedWord
    Instance,   // the three registers of the BACnet Device object identifier
    DeviceName, // the eleven registers of the BACnet Device object name
    ObjectName, // the ten registers of an object-name record
    Firmware,   // one register in hundredths: 134 is "1.34"
    Mac,        // six registers, one octet each
};

// A setting's value as its codec gives it: Octets4 (Octets), std::uint16_t
// (Word, Firmware), bool (BoolAsOne, LockWord), std::uint32_t (Instance),
// QByteArray (DeviceName, ObjectName), MacOctets (Mac).
using SettingValue =
    std::variant<bool, std::uint16_t, std::uint32_t, Octets4, QByteArray, MacOctets>;

int codecWidth(Codec codec);
SettingValue decodeSetting(Codec codec, const std::uint16_t *registers);
void encodeSetting(Codec codec, const SettingValue &value, std::uint16_t *registers);
// False when the registers cannot carry the value unaltered: an octet above
// 255, an instance above MaxDeviceInstance, a name too long for its record.
bool settingFits(Codec codec, const SettingValue &value);

// The BACnet page's refusal messages, one per kind of entry; defined with
// the BACnet rows (BACnetTable.h), None (0) first.
enum class BACnetEntry;

// What a gated entry (see EntryRule) comes to while its switch is off.
enum class WhileOff
{
    Checked,        // checked as always (the relaxed minimum applies in files)
    SentAsZero,     // not checked, and sent as zero: the unit keeps no value then
    KeptOrFallback, // a number in range is kept, anything else becomes `fallback`
};

// What an entry must be. Numbers lie in [min, max]; a name has at most max
// characters. When `gate` names a switch row of the same table and that
// switch is off, any number from minWhileOff is taken instead from a file,
// and a typed entry comes to what `whileOff` says.
struct EntryRule
{
    long long min = 0;
    long long max = 0;
    BACnetEntry refusal{}; // the page's message for a refused entry; None by default
    const char *gate = nullptr;
    long long minWhileOff = 0;
    WhileOff whileOff = WhileOff::Checked;
    long long fallback = 0;
};

// Words a switch is shown with, off first.
struct SwitchWords
{
    const char *off = nullptr;
    const char *on = nullptr;
};

// How a row reaches its value inside the area's value type S.
template <typename S> struct SettingField
{
    SettingValue (*get)(const S &) = nullptr;
    void (*set)(S &, const SettingValue &) = nullptr;
};

template <typename> struct MemberOf;
template <typename S, typename T> struct MemberOf<T S::*>
{
    using Struct = S;
    using Type = T;
};

// A data member: member<&BACnetSettings::instance>().
template <auto M> constexpr SettingField<typename MemberOf<decltype(M)>::Struct> member()
{
    using S = typename MemberOf<decltype(M)>::Struct;
    using T = typename MemberOf<decltype(M)>::Type;
    return {[](const S &s) { return SettingValue(s.*M); },
            [](S &s, const SettingValue &v) {
                s.*M = std::get<T>(v);
            }};
}

// A member of a member: member<&BACnetSettings::options, &BACnetOptions::bbmd>().
template <auto Outer, auto Inner>
constexpr SettingField<typename MemberOf<decltype(Outer)>::Struct> member()
{
    using S = typename MemberOf<decltype(Outer)>::Struct;
    using T = typename MemberOf<decltype(Inner)>::Type;
    return {[](const S &s) { return SettingValue((s.*Outer).*Inner); },
            [](S &s, const SettingValue &v) {
                (s.*Outer).*Inner = std::get<T>(v);
            }};
}

// The value type is the setting itself (the G50 address, one object name).
template <typename S> constexpr SettingField<S> whole()
{
    return {[](const S &s) { return SettingValue(s); },
            [](S &s, const SettingValue &v) {
                s = std::get<S>(v);
            }};
}

// One setting. Rows are written as SettingRow<S>(id, block, offset, codec)
// followed by the parts that apply: .entry(...), .cli(...), .file(...),
// .report(...), .show(...), .field(...). A null name means "not there".
template <typename S> struct SettingRow
{
    const char *id = nullptr;
    RegisterBlock block{};
    std::uint16_t offset = 0;
    Codec codec = Codec::Word;
    EntryRule rule;
    const char *cliKey = nullptr;  // ravelinctl get/set
    SwitchWords cliWords;          // a switch's words in get/set and show
    const char *fileKey = nullptr; // the key inside the area's section of the file
    const char *reportLabel = nullptr;
    SwitchWords reportWords;            // a switch's words in the report
    const char *reportFormat = nullptr; // "%1 seconds"; the plain text when null
    const char *showLabel = nullptr;
    // The value in a short phrase, "TTL %1 s": where a sentence or a line
    // names several settings of a block (a gated row's phrase goes on its
    // switch's show line while the switch is on).
    const char *briefFormat = nullptr;
    SettingField<S> access;

    constexpr SettingRow(const char *id_, const RegisterBlock &block_, std::uint16_t offset_,
                         Codec codec_)
        : id(id_), block(block_), offset(offset_), codec(codec_)
    {}
    constexpr SettingRow entry(EntryRule r) const { return with<&SettingRow::rule>(r); }
    constexpr SettingRow cli(const char *key, SwitchWords words = {}) const
    {
        return with<&SettingRow::cliKey>(key).template with<&SettingRow::cliWords>(words);
    }
    constexpr SettingRow file(const char *key) const { return with<&SettingRow::fileKey>(key); }
    constexpr SettingRow report(const char *label, SwitchWords words = {},
                                const char *format = nullptr) const
    {
        return with<&SettingRow::reportLabel>(label)
            .template with<&SettingRow::reportWords>(words)
            .template with<&SettingRow::reportFormat>(format);
    }
    constexpr SettingRow show(const char *label) const
    {
        return with<&SettingRow::showLabel>(label);
    }
    constexpr SettingRow brief(const char *format) const
    {
        return with<&SettingRow::briefFormat>(format);
    }
    constexpr SettingRow field(SettingField<S> f) const { return with<&SettingRow::access>(f); }
    // A copy of the row with one part set.
    template <auto Part, typename T> constexpr SettingRow with(T value) const
    {
        SettingRow row = *this;
        row.*Part = value;
        return row;
    }

    SettingValue get(const S &s) const { return access.get(s); }
    void set(S &s, const SettingValue &v) const { access.set(s, v); }
    bool inBlock(const RegisterBlock &b) const
    {
        return block.unitId == b.unitId && block.start == b.start;
    }
};

constexpr SwitchWords OnOffWords{"off", "on"};

// --- The rows of one table ---

template <typename S, std::size_t N> using SettingTable = std::array<SettingRow<S>, N>;

// The rows of `block` decoded from its registers into `out`.
template <typename S, std::size_t N>
void decodeBlock(const SettingTable<S, N> &rows, const RegisterBlock &block,
                 const std::uint16_t *registers, S &out)
{
    for (const SettingRow<S> &row : rows)
        if (row.inBlock(block))
            row.set(out, decodeSetting(row.codec, registers + row.offset));
}

// The registers of `block` from the rows that lie in it.
template <std::size_t Count, typename S, std::size_t N>
std::array<std::uint16_t, Count> encodeBlock(const SettingTable<S, N> &rows,
                                             const RegisterBlock &block, const S &value)
{
    std::array<std::uint16_t, Count> registers{};
    for (const SettingRow<S> &row : rows)
        if (row.inBlock(block))
            encodeSetting(row.codec, row.get(value), registers.data() + row.offset);
    return registers;
}

// True when every row of `block` fits its registers.
template <typename S, std::size_t N>
bool blockFits(const SettingTable<S, N> &rows, const RegisterBlock &block, const S &value)
{
    for (const SettingRow<S> &row : rows)
        if (row.inBlock(block) && !settingFits(row.codec, row.get(value)))
            return false;
    return true;
}

// The row with the given ravelinctl key, or null.
template <typename S, std::size_t N>
const SettingRow<S> *rowWithCliKey(const SettingTable<S, N> &rows, const QString &key)
{
    for (const SettingRow<S> &row : rows)
        if (row.cliKey && key == QLatin1String(row.cliKey))
            return &row;
    return nullptr;
}

// The row with the given id, or null.
template <typename S, std::size_t N>
const SettingRow<S> *rowWithId(const SettingTable<S, N> &rows, const char *id)
{
    for (const SettingRow<S> &row : rows)
        if (std::strcmp(row.id, id) == 0)
            return &row;
    return nullptr;
}

// The switch row that gates `row`, or null when nothing does.
template <typename S, std::size_t N>
const SettingRow<S> *gateOf(const SettingTable<S, N> &rows, const SettingRow<S> &row)
{
    return row.rule.gate ? rowWithId(rows, row.rule.gate) : nullptr;
}

// True when `row` is gated by a switch that is off in `value`.
template <typename S, std::size_t N>
bool gatedOff(const SettingTable<S, N> &rows, const SettingRow<S> &row, const S &value)
{
    const SettingRow<S> *gate = gateOf(rows, row);
    return gate && !std::get<bool>(gate->get(value));
}

// The value a setting of `codec` has when all its registers are 0.
SettingValue zeroSetting(Codec codec);
// A number setting's value (Word, Instance, Firmware), or nothing.
std::optional<long long> settingNumber(const SettingValue &value);
// `n` as a value of the number codec `codec`.
SettingValue numberSetting(Codec codec, long long n);

// What `value` sends: every gated row whose switch is off comes to what its
// rule says (zeros, or its fallback in place of a number below its minimum).
template <typename S, std::size_t N> S withGatesApplied(const SettingTable<S, N> &rows, S value)
{
    for (const SettingRow<S> &row : rows) {
        if (!gatedOff(rows, row, value))
            continue;
        if (row.rule.whileOff == WhileOff::SentAsZero) {
            row.set(value, zeroSetting(row.codec));
        } else if (row.rule.whileOff == WhileOff::KeptOrFallback) {
            const std::optional<long long> n = settingNumber(row.get(value));
            if (n && *n < row.rule.min)
                row.set(value, numberSetting(row.codec, row.rule.fallback));
        }
    }
    return value;
}

// --- Texts ---

// Where a value is shown; each has its own words for a few codecs.
enum class SettingSurface
{
    Cli,    // ravelinctl get/set
    Show,   // ravelinctl show
    Report, // the commissioning report
};

QString settingText(Codec codec, const SettingValue &value, SettingSurface surface,
                    const SwitchWords &words, const char *format = nullptr);
template <typename S>
QString settingText(const SettingRow<S> &row, const S &value, SettingSurface surface)
{
    const SwitchWords &words = surface == SettingSurface::Report ? row.reportWords : row.cliWords;
    return settingText(row.codec, row.get(value), surface, words,
                       surface == SettingSurface::Report ? row.reportFormat : nullptr);
}

// The row's short phrase ("TTL 1800 s").
template <typename S> QString briefText(const SettingRow<S> &row, const S &value)
{
    return QString::fromLatin1(row.briefFormat).arg(settingText(row, value, SettingSurface::Cli));
}

// The value in ravelinctl's JSON output.
QJsonValue settingCliJson(Codec codec, const SettingValue &value, const SwitchWords &words);
// The value as the configuration file holds it.
QJsonValue settingFileJson(Codec codec, const SettingValue &value);

// A value given to ravelinctl set: the value, or nothing with `problem` set to
// what the entry must be ("a whole number from 1 to 65535").
std::optional<SettingValue> settingFromCli(Codec codec, const EntryRule &rule,
                                           const SwitchWords &words, const QString &text,
                                           QString *problem);
