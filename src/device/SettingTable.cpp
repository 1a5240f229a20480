#include "SettingTable.h"

#include <algorithm>

namespace {

template <std::size_t N> std::array<std::uint16_t, N> copied(const std::uint16_t *registers)
{
    std::array<std::uint16_t, N> values{};
    std::copy_n(registers, N, values.begin());
    return values;
}

template <std::size_t N> bool octetsFit(const std::array<std::uint16_t, N> &octets)
{
    return std::all_of(octets.begin(), octets.end(), [](std::uint16_t v) { return v <= 255; });
}

QString word(const SwitchWords &words, bool on)
{
    return QLatin1String(on ? words.on : words.off);
}

} // namespace

int codecWidth(Codec codec)
{
    switch (codec) {
    case Codec::Octets:
        return 4;
    case Codec::Word:
    case Codec::BoolAsOne:
    case Codec::LockWord:
    case Codec::Firmware:
        return 1;
    case Codec::Instance:
        return 3;
    case Codec::DeviceName:
        return 11;
    case Codec::ObjectName:
        return 10;
    case Codec::Mac:
        return 6;
    }
    return 0;
}

SettingValue zeroSetting(Codec codec)
{
    const std::array<std::uint16_t, 16> zeros{};
    return decodeSetting(codec, zeros.data());
}

std::optional<long long> settingNumber(const SettingValue &value)
{
    if (const auto *word = std::get_if<std::uint16_t>(&value))
        return *word;
    if (const auto *instance = std::get_if<std::uint32_t>(&value))
        return *instance;
    return std::nullopt;
}

SettingValue numberSetting(Codec codec, long long n)
{
    if (codec == Codec::Instance)
        return std::uint32_t(n);
    return std::uint16_t(n);
}

SettingValue decodeSetting(Codec codec, const std::uint16_t *registers)
{
    switch (codec) {
    case Codec::Octets:
        return copied<4>(registers);
    case Codec::Word:
    case Codec::Firmware:
        return registers[0];
    case Codec::BoolAsOne:
        return registers[0] == 1;
    case Codec::LockWord:
        return registers[0] != ConfigLockedWord;
    case Codec::Instance:
        return decodeDeviceInstance(registers);
    case Codec::DeviceName:
        return decodeDeviceName(registers);
    case Codec::ObjectName:
        return decodeObjectName(registers);
    case Codec::Mac:
        return copied<6>(registers);
    }
    return registers[0];
}

void encodeSetting(Codec codec, const SettingValue &value, std::uint16_t *registers)
{
    const auto put = [registers](const auto &values) {
        std::copy(values.begin(), values.end(), registers);
    };
    switch (codec) {
    case Codec::Octets:
        put(std::get<Octets4>(value));
        return;
    case Codec::Word:
    case Codec::Firmware:
        registers[0] = std::get<std::uint16_t>(value);
        return;
    case Codec::BoolAsOne:
        registers[0] = std::get<bool>(value) ? 1 : 0;
        return;
    case Codec::LockWord:
        registers[0] = std::get<bool>(value) ? 0 : ConfigLockedWord;
        return;
    case Codec::Instance:
        put(encodeDeviceObjectId(std::get<std::uint32_t>(value)));
        return;
    case Codec::DeviceName:
        put(encodeDeviceName(std::get<QByteArray>(value)));
        return;
    case Codec::ObjectName:
        put(encodeObjectName(std::get<QByteArray>(value)));
        return;
    case Codec::Mac:
        put(std::get<MacOctets>(value));
        return;
    }
}

bool settingFits(Codec codec, const SettingValue &value)
{
    switch (codec) {
    case Codec::Octets:
        return octetsFit(std::get<Octets4>(value));
    case Codec::Mac:
        return octetsFit(std::get<MacOctets>(value));
    case Codec::Instance:
        return isValidDeviceInstance(std::get<std::uint32_t>(value));
    case Codec::DeviceName:
        return std::get<QByteArray>(value).size() <= MaxDeviceNameLength;
    case Codec::ObjectName:
        return std::get<QByteArray>(value).size() <= MaxObjectNameLength;
    case Codec::Word:
    case Codec::Firmware:
    case Codec::BoolAsOne:
    case Codec::LockWord:
        break;
    }
    return true;
}

QString settingText(Codec codec, const SettingValue &value, SettingSurface surface,
                    const SwitchWords &words, const char *format)
{
    switch (codec) {
    case Codec::Octets:
        return dottedText(std::get<Octets4>(value).data());
    case Codec::Word: {
        const QString number = QString::number(std::get<std::uint16_t>(value));
        return format ? QString::fromLatin1(format).arg(number) : number;
    }
    case Codec::Firmware:
        return firmwareVersionText(std::get<std::uint16_t>(value));
    case Codec::BoolAsOne:
    case Codec::LockWord:
        return word(words, std::get<bool>(value));
    case Codec::Instance: {
        const std::uint32_t instance = std::get<std::uint32_t>(value);
        if (surface == SettingSurface::Cli || isValidDeviceInstance(instance))
            return QString::number(instance);
        return QString::number(instance) + (surface == SettingSurface::Show
                                                ? QStringLiteral(" (invalid)")
                                                : QStringLiteral(" (Invalid ID)"));
    }
    case Codec::DeviceName:
    case Codec::ObjectName:
        // The report shows control characters escaped (printableName); the
        // other surfaces show every byte as its Latin-1 character.
        return nameText(std::get<QByteArray>(value));
    case Codec::Mac:
        return macLabel(std::get<MacOctets>(value).data());
    }
    return QString();
}

QJsonValue settingCliJson(Codec codec, const SettingValue &value, const SwitchWords &words)
{
    switch (codec) {
    case Codec::Word:
        return int(std::get<std::uint16_t>(value));
    case Codec::Instance:
        return qint64(std::get<std::uint32_t>(value));
    case Codec::BoolAsOne:
        return std::get<bool>(value);
    case Codec::LockWord:
        return word(words, std::get<bool>(value));
    case Codec::Octets:
    case Codec::Firmware:
    case Codec::DeviceName:
    case Codec::ObjectName:
    case Codec::Mac:
        break;
    }
    return settingText(codec, value, SettingSurface::Cli, words);
}

QJsonValue settingFileJson(Codec codec, const SettingValue &value)
{
    // The file holds every switch as true or false, the rest as ravelinctl
    // gives it.
    if (codec == Codec::LockWord)
        return std::get<bool>(value);
    return settingCliJson(codec, value, {});
}

std::optional<SettingValue> settingFromCli(Codec codec, const EntryRule &rule,
                                           const SwitchWords &words, const QString &text,
                                           QString *problem)
{
    const auto refuse = [problem](const QString &what) -> std::optional<SettingValue> {
        if (problem)
            *problem = what;
        return std::nullopt;
    };
    switch (codec) {
    case Codec::Octets:
        if (const std::optional<Octets4> octets = dottedOctets(text))
            return *octets;
        return refuse(QStringLiteral("four octets from 0 to 255, as 192.0.2.1"));
    case Codec::BoolAsOne:
    case Codec::LockWord:
        if (text == QLatin1String(words.on) || text == QLatin1String(words.off))
            return text == QLatin1String(words.on);
        return refuse(
            QStringLiteral("%1 or %2").arg(QLatin1String(words.on), QLatin1String(words.off)));
    case Codec::DeviceName:
    case Codec::ObjectName:
        if (text.size() <= rule.max)
            if (const std::optional<QByteArray> bytes = nameBytes(text))
                return *bytes;
        return refuse(QStringLiteral("at most %1 characters, each with a one-byte (Latin-1) code")
                          .arg(rule.max));
    case Codec::Word:
    case Codec::Instance:
    case Codec::Firmware:
    case Codec::Mac:
        break;
    }
    const std::optional<int> number = entryNumberInRange(text, int(rule.min), int(rule.max));
    if (!number || codec == Codec::Mac)
        return refuse(QStringLiteral("a whole number from %1 to %2").arg(rule.min).arg(rule.max));
    if (codec == Codec::Instance)
        return std::uint32_t(*number);
    return std::uint16_t(*number);
}
