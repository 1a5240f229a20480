#include "ConfigFile.h"

#include "Codecs.h"
#include "JsonLocator.h"
#include "SaveFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

namespace {

// Text from the file as a message quotes it: cut to a readable length.
QString quoted(const QString &text)
{
    if (text.size() <= MaxQuotedLength)
        return text;
    return text.left(MaxQuotedLength - 1) + QChar(0x2026); // an ellipsis
}

// Free text (the tool's name and version) is shown, never sent; the limit
// only keeps a damaged file from filling a window.
constexpr int MaxFreeTextLength = 200;

QString typeName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("true or false");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("a list");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("nothing");
    }
}

// Reads the known keys of one parsed file. Every check stops at the first
// fault, which is kept with its line and key; later checks then do nothing.
class Reader
{
public:
    explicit Reader(const JsonLocator &locator) : m_locator(locator) {}

    bool failed() const { return m_error.has_value(); }
    const ConfigError &error() const { return *m_error; }

    bool fail(const QString &path, const QString &message)
    {
        if (!m_error)
            m_error = ConfigError{lineOf(path), path, message};
        return false;
    }

    // The line of path, or of the nearest enclosing value that occurs.
    int lineOf(QString path) const
    {
        for (;;) {
            if (const int line = m_locator.lineOf(path))
                return line;
            if (path.isEmpty())
                return 1;
            const qsizetype cut =
                std::max(path.lastIndexOf(QLatin1Char('.')), path.lastIndexOf(QLatin1Char('[')));
            path = path.left(std::max<qsizetype>(cut, 0));
        }
    }

    // The value of a key that must be there.
    std::optional<QJsonValue> required(const QJsonObject &object, const QString &parent,
                                       const QString &key)
    {
        const QString path = jsonChildPath(parent, key);
        if (!object.contains(key)) {
            fail(path, QStringLiteral("missing"));
            return std::nullopt;
        }
        return object.value(key);
    }

    std::optional<QJsonObject> objectAt(const QJsonValue &value, const QString &path)
    {
        if (value.isObject())
            return value.toObject();
        fail(path, QStringLiteral("expected an object, found %1").arg(typeName(value)));
        return std::nullopt;
    }

    std::optional<qint64> number(const QJsonObject &object, const QString &parent,
                                 const QString &key, qint64 min, qint64 max)
    {
        const std::optional<QJsonValue> value = required(object, parent, key);
        if (!value)
            return std::nullopt;
        const QString path = jsonChildPath(parent, key);
        if (!value->isDouble()) {
            fail(path, QStringLiteral("expected a whole number, found %1").arg(typeName(*value)));
            return std::nullopt;
        }
        const double d = value->toDouble();
        if (!std::isfinite(d) || std::trunc(d) != d) {
            fail(path, QStringLiteral("expected a whole number, found %1")
                           .arg(QString::number(d, 'g', 17)));
            return std::nullopt;
        }
        if (d < double(min) || d > double(max)) {
            fail(path, QStringLiteral("%1 is out of range (%2 to %3)")
                           .arg(QString::number(d, 'g', 17))
                           .arg(min)
                           .arg(max));
            return std::nullopt;
        }
        return qint64(d);
    }

    std::optional<bool> boolean(const QJsonObject &object, const QString &parent,
                                const QString &key)
    {
        const std::optional<QJsonValue> value = required(object, parent, key);
        if (!value)
            return std::nullopt;
        if (!value->isBool()) {
            fail(jsonChildPath(parent, key),
                 QStringLiteral("expected true or false, found %1").arg(typeName(*value)));
            return std::nullopt;
        }
        return value->toBool();
    }

    std::optional<QString> stringValue(const QJsonValue &value, const QString &path, int maxLength)
    {
        if (!value.isString()) {
            fail(path, QStringLiteral("expected a string, found %1").arg(typeName(value)));
            return std::nullopt;
        }
        const QString text = value.toString();
        if (text.size() > maxLength) {
            fail(path, QStringLiteral("%1 characters, at most %2").arg(text.size()).arg(maxLength));
            return std::nullopt;
        }
        return text;
    }

    std::optional<QString> string(const QJsonObject &object, const QString &parent,
                                  const QString &key, int maxLength)
    {
        const std::optional<QJsonValue> value = required(object, parent, key);
        if (!value)
            return std::nullopt;
        return stringValue(*value, jsonChildPath(parent, key), maxLength);
    }

    // A name the unit stores one byte per character.
    std::optional<QByteArray> nameValue(const QJsonValue &value, const QString &path, int maxLength)
    {
        const std::optional<QString> text = stringValue(value, path, maxLength);
        if (!text)
            return std::nullopt;
        const std::optional<QByteArray> bytes = nameBytes(*text);
        if (!bytes)
            fail(path, QStringLiteral("\"%1\" holds a character the unit cannot store (names "
                                      "take Latin-1 characters only)")
                           .arg(quoted(*text)));
        return bytes;
    }

    std::optional<std::uint16_t> firmware(const QJsonObject &object, const QString &parent,
                                          const QString &key)
    {
        const auto text = string(object, parent, key, 6);
        if (!text)
            return std::nullopt;
        static const QRegularExpression version(QStringLiteral("^(\\d{1,3})\\.(\\d\\d)$"));
        const QRegularExpressionMatch v = version.match(*text);
        const int value =
            v.hasMatch() ? v.capturedView(1).toInt() * 100 + v.capturedView(2).toInt() : -1;
        if (value < 0 || value > 65535) {
            fail(
                jsonChildPath(parent, key),
                QStringLiteral("\"%1\" is not a firmware version such as 1.34").arg(quoted(*text)));
            return std::nullopt;
        }
        return std::uint16_t(value);
    }

    std::optional<MacOctets> mac(const QJsonObject &object, const QString &parent,
                                 const QString &key)
    {
        const auto text = string(object, parent, key, 17);
        if (!text)
            return std::nullopt;
        static const QRegularExpression macForm(
            QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
        if (!macForm.match(*text).hasMatch()) {
            fail(jsonChildPath(parent, key),
                 QStringLiteral("\"%1\" is not a MAC address such as 02:7A:1C:05:17:3A")
                     .arg(quoted(*text)));
            return std::nullopt;
        }
        const QStringList parts = text->split(QLatin1Char(':'));
        MacOctets octets{};
        for (int i = 0; i < 6; ++i)
            octets[std::size_t(i)] = std::uint16_t(parts[i].toUInt(nullptr, 16));
        return octets;
    }

    // One row's value by its codec and entry rule.
    std::optional<SettingValue> setting(const QJsonObject &object, const QString &parent,
                                        const QString &key, Codec codec, const EntryRule &rule)
    {
        const auto wrap = [](const auto &v) {
            return v ? std::optional<SettingValue>(*v) : std::nullopt;
        };
        switch (codec) {
        case Codec::Octets:
            return wrap(address(object, parent, key));
        case Codec::BoolAsOne:
        case Codec::LockWord:
            return wrap(boolean(object, parent, key));
        case Codec::Firmware:
            return wrap(firmware(object, parent, key));
        case Codec::Mac:
            return wrap(mac(object, parent, key));
        case Codec::DeviceName:
        case Codec::ObjectName: {
            const auto value = required(object, parent, key);
            return value ? wrap(nameValue(*value, jsonChildPath(parent, key), int(rule.max)))
                         : std::nullopt;
        }
        case Codec::Instance:
        case Codec::Word:
            break;
        }
        const std::optional<qint64> n = number(object, parent, key, rule.min, rule.max);
        if (!n)
            return std::nullopt;
        if (codec == Codec::Instance)
            return SettingValue(std::uint32_t(*n));
        return SettingValue(std::uint16_t(*n));
    }

    std::optional<Octets4> address(const QJsonObject &object, const QString &parent,
                                   const QString &key)
    {
        const std::optional<QString> text = string(object, parent, key, 15);
        if (!text)
            return std::nullopt;
        DottedQuadResult result = DottedQuadResult::Malformed;
        const std::optional<Octets4> octets = fileAddress(*text, &result);
        const QString path = jsonChildPath(parent, key);
        switch (result) {
        case DottedQuadResult::Good:
            return octets;
        case DottedQuadResult::Malformed:
            fail(path, QStringLiteral("\"%1\" is not an address of four numbers (such as "
                                      "192.0.2.10)")
                           .arg(quoted(*text)));
            break;
        case DottedQuadResult::OutOfRange:
            fail(path,
                 QStringLiteral("\"%1\" has a number out of range (0 to 255)").arg(quoted(*text)));
            break;
        }
        return std::nullopt;
    }

    // A section: nothing when the file leaves it out.
    std::optional<QJsonObject> section(const QJsonObject &root, const QString &key)
    {
        if (!root.contains(key))
            return std::nullopt;
        return objectAt(root.value(key), key);
    }

private:
    const JsonLocator &m_locator;
    std::optional<ConfigError> m_error;
};

bool readHeader(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const std::optional<QString> format = r.string(root, QString(), QStringLiteral("format"), 100);
    if (!format)
        return false;
    if (*format != QLatin1String(ConfigFormatName))
        return r.fail(QStringLiteral("format"),
                      QStringLiteral("\"%1\" is not a unit configuration (expected \"%2\")")
                          .arg(quoted(*format), QLatin1String(ConfigFormatName)));
    const std::optional<qint64> version =
        r.number(root, QString(), QStringLiteral("formatVersion"), 1, 1 << 30);
    if (!version)
        return false;
    if (*version > ConfigFormatVersion)
        return r.fail(QStringLiteral("formatVersion"),
                      QStringLiteral("the file has format version %1, newer than this tool "
                                     "reads (%2); open it with a newer version of the tool")
                          .arg(*version)
                          .arg(ConfigFormatVersion));
    if (const auto savedBy = r.section(root, QStringLiteral("savedBy"))) {
        const QString parent = QStringLiteral("savedBy");
        const auto tool = r.string(*savedBy, parent, QStringLiteral("tool"), MaxFreeTextLength);
        const auto v = r.string(*savedBy, parent, QStringLiteral("version"), MaxFreeTextLength);
        if (!tool || !v)
            return false;
        config.toolName = *tool;
        config.toolVersion = *v;
    }
    if (r.failed())
        return false;
    if (root.contains(QStringLiteral("savedAt"))) {
        const auto text = r.string(root, QString(), QStringLiteral("savedAt"), 64);
        if (!text)
            return false;
        config.savedAt = QDateTime::fromString(*text, Qt::ISODate);
        if (!config.savedAt.isValid())
            return r.fail(QStringLiteral("savedAt"),
                          QStringLiteral("\"%1\" is not a date and time such as "
                                         "2024-05-01T09:30:00Z")
                              .arg(quoted(*text)));
    }
    return true;
}

// One section's rows, in the order of the table. A number row whose rule is
// gated by a switch row takes its relaxed minimum while that switch is off.
template <typename S, std::size_t N>
bool readRows(Reader &r, const QJsonObject &root, const SettingTable<S, N> &rows,
              const QString &parent, std::optional<S> &out)
{
    const std::optional<QJsonObject> s = r.section(root, parent);
    if (!s)
        return !r.failed();
    S value{};
    for (const SettingRow<S> &row : rows) {
        if (!row.fileKey)
            continue;
        EntryRule rule = row.rule;
        if (gatedOff(rows, row, value))
            rule.min = rule.minWhileOff;
        const std::optional<SettingValue> v =
            r.setting(*s, parent, QLatin1String(row.fileKey), row.codec, rule);
        if (!v)
            return false;
        row.set(value, *v);
    }
    out = value;
    return true;
}

template <typename S, std::size_t N>
QJsonObject rowsJson(const SettingTable<S, N> &rows, const S &value)
{
    QJsonObject known;
    for (const SettingRow<S> &row : rows)
        if (row.fileKey)
            known.insert(QLatin1String(row.fileKey), settingFileJson(row.codec, row.get(value)));
    return known;
}

bool readObjectNames(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const QString key = QLatin1String(ObjectNameRow.fileKey);
    if (!root.contains(key))
        return true;
    const QJsonValue value = root.value(key);
    if (!value.isArray())
        return r.fail(key, QStringLiteral("expected a list of %1 names, found %2")
                               .arg(ObjectNameCount)
                               .arg(typeName(value)));
    const QJsonArray list = value.toArray();
    if (list.size() != ObjectNameCount)
        return r.fail(key, QStringLiteral("holds %1 names; it needs one for each of the %2 "
                                          "addresses")
                               .arg(list.size())
                               .arg(ObjectNameCount));
    ObjectNameList names;
    for (int i = 0; i < ObjectNameCount; ++i) {
        const auto name =
            r.nameValue(list.at(i), jsonIndexPath(key, i), int(ObjectNameRow.rule.max));
        if (!name)
            return false;
        names[std::size_t(i)] = *name;
    }
    config.objectNames = names;
    return true;
}

QJsonArray nameArray(const ObjectNameList &names)
{
    QJsonArray list;
    for (const QByteArray &name : names)
        list.append(nameText(name));
    return list;
}

// `base` with the known keys set from `known`; its other keys stay.
QJsonObject merged(QJsonObject base, const QJsonObject &known)
{
    for (auto it = known.begin(); it != known.end(); ++it)
        base.insert(it.key(), it.value());
    return base;
}

void putSection(QJsonObject &root, const QString &key, bool present, const QJsonObject &known)
{
    if (present)
        root.insert(key, merged(root.value(key).toObject(), known));
    else
        root.remove(key);
}

} // namespace

QString ConfigError::text() const
{
    QString where = line > 0 ? QStringLiteral("line %1").arg(line) : QString();
    if (!key.isEmpty())
        where += (where.isEmpty() ? QString() : QStringLiteral(", ")) + quoted(key);
    return where.isEmpty() ? message : where + QStringLiteral(": ") + message;
}

std::optional<UnitConfig> parseUnitConfig(const QByteArray &text, ConfigError *error)
{
    const auto refuse = [error](int line, const QString &key, const QString &message) {
        if (error)
            *error = ConfigError{line, key, message};
        return std::nullopt;
    };
    if (text.size() > MaxConfigFileSize)
        return refuse(0, QString(),
                      QStringLiteral("the file is larger than %1 bytes; a configuration file "
                                     "is a few kilobytes")
                          .arg(MaxConfigFileSize));
    if (text.trimmed().isEmpty())
        return refuse(0, QString(), QStringLiteral("the file is empty"));

    if (const qsizetype deep = JsonLocator::firstTooDeep(text, MaxConfigNesting); deep >= 0)
        return refuse(JsonLocator::lineAt(text, deep), QString(),
                      QStringLiteral("nested more than %1 levels deep; a configuration file "
                                     "nests two")
                          .arg(MaxConfigNesting));

    const JsonLocator locator(text);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = JsonLocator::lineAt(text, parseError.offset);
        const QString after = locator.lastPathBefore(parseError.offset);
        const bool atEnd = text.mid(parseError.offset).trimmed().isEmpty();
        return refuse(line, after,
                      QStringLiteral("%1 (%2)%3")
                          .arg(atEnd ? QStringLiteral("the file ends early")
                                     : QStringLiteral("not valid JSON"),
                               parseError.errorString(),
                               after.isEmpty() ? QString() : QStringLiteral(" after this key")));
    }
    if (!doc.isObject())
        return refuse(1, QString(), QStringLiteral("the file holds no JSON object"));
    if (locator.hasDuplicateKey())
        return refuse(locator.duplicateKeyLine(), locator.duplicateKeyPath(),
                      QStringLiteral("the key occurs twice"));

    UnitConfig config;
    config.source = doc.object();
    Reader reader(locator);
    const bool ok =
        readHeader(reader, config.source, config) &&
        readRows(reader, config.source, IdentityRows, QStringLiteral("identity"),
                 config.identity) &&
        readRows(reader, config.source, NetworkRows, QStringLiteral("network"), config.network) &&
        readRows(reader, config.source, G50Rows, QStringLiteral("g50"), config.g50) &&
        readRows(reader, config.source, BACnetRows, QStringLiteral("bacnet"), config.bacnet) &&
        readObjectNames(reader, config.source, config);
    if (!ok || reader.failed()) {
        if (error)
            *error = reader.error();
        return std::nullopt;
    }
    return config;
}

QByteArray serializeUnitConfig(const UnitConfig &config)
{
    QJsonObject root = config.source;
    root.insert(QStringLiteral("format"), QLatin1String(ConfigFormatName));
    root.insert(QStringLiteral("formatVersion"), ConfigFormatVersion);
    putSection(root, QStringLiteral("savedBy"),
               !config.toolName.isEmpty() || !config.toolVersion.isEmpty(),
               {{QStringLiteral("tool"), config.toolName},
                {QStringLiteral("version"), config.toolVersion}});
    if (config.savedAt.isValid())
        root.insert(QStringLiteral("savedAt"), config.savedAt.toUTC().toString(Qt::ISODate));
    else
        root.remove(QStringLiteral("savedAt"));

    const auto section = [&root](const QString &key, const auto &rows, const auto &value) {
        if (value)
            putSection(root, key, true, rowsJson(rows, *value));
        else
            root.remove(key);
    };
    section(QStringLiteral("identity"), IdentityRows, config.identity);
    section(QStringLiteral("network"), NetworkRows, config.network);
    section(QStringLiteral("g50"), G50Rows, config.g50);
    section(QStringLiteral("bacnet"), BACnetRows, config.bacnet);

    const QString namesKey = QLatin1String(ObjectNameRow.fileKey);
    if (config.objectNames)
        root.insert(namesKey, nameArray(*config.objectNames));
    else
        root.remove(namesKey);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool loadUnitConfig(const QString &path, UnitConfig &config, ConfigError *error)
{
    QString reason;
    const std::optional<QByteArray> text = readRegularFile(path, MaxConfigFileSize, &reason);
    if (!text) {
        if (error)
            *error =
                ConfigError{0, QString(), QStringLiteral("cannot read %1: %2").arg(path, reason)};
        return false;
    }
    std::optional<UnitConfig> parsed = parseUnitConfig(*text, error);
    if (!parsed)
        return false;
    config = std::move(*parsed);
    return true;
}

bool saveUnitConfig(const QString &path, const UnitConfig &config, QString *error)
{
    QString reason;
    if (writeFileAtomically(path, serializeUnitConfig(config), &reason))
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1: %2").arg(path, reason);
    return false;
}
