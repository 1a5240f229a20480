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

enum class AddressCheck
{
    Good,
    Malformed,
    OutOfRange
};

AddressCheck checkAddress(const QString &text, Octets4 *out)
{
    static const QRegularExpression form(
        QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return AddressCheck::Malformed;
    Octets4 octets{};
    for (int i = 0; i < 4; ++i) {
        const int value = match.capturedView(i + 1).toInt();
        if (value > 255)
            return AddressCheck::OutOfRange;
        octets[std::size_t(i)] = std::uint16_t(value);
    }
    if (out)
        *out = octets;
    return AddressCheck::Good;
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

    std::optional<Octets4> address(const QJsonObject &object, const QString &parent,
                                   const QString &key)
    {
        const std::optional<QString> text = string(object, parent, key, 15);
        if (!text)
            return std::nullopt;
        Octets4 octets{};
        const QString path = jsonChildPath(parent, key);
        switch (checkAddress(*text, &octets)) {
        case AddressCheck::Good:
            return octets;
        case AddressCheck::Malformed:
            fail(path, QStringLiteral("\"%1\" is not an address of four numbers (such as "
                                      "192.0.2.10)")
                           .arg(quoted(*text)));
            break;
        case AddressCheck::OutOfRange:
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

bool readIdentity(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const QString parent = QStringLiteral("identity");
    const std::optional<QJsonObject> s = r.section(root, parent);
    if (!s)
        return !r.failed();
    ProductInfo info;
    const auto product = r.number(*s, parent, QStringLiteral("productCode"), 0, 65535);
    const auto firmware = r.string(*s, parent, QStringLiteral("firmware"), 6);
    if (!product || !firmware)
        return false;
    info.productCode = std::uint16_t(*product);
    static const QRegularExpression version(QStringLiteral("^(\\d{1,3})\\.(\\d\\d)$"));
    const QRegularExpressionMatch v = version.match(*firmware);
    const int value =
        v.hasMatch() ? v.capturedView(1).toInt() * 100 + v.capturedView(2).toInt() : -1;
    if (value < 0 || value > 65535)
        return r.fail(
            jsonChildPath(parent, QStringLiteral("firmware")),
            QStringLiteral("\"%1\" is not a firmware version such as 1.34").arg(quoted(*firmware)));
    info.firmware = std::uint16_t(value);
    const auto mac = r.string(*s, parent, QStringLiteral("mac"), 17);
    if (!mac)
        return false;
    static const QRegularExpression macForm(QStringLiteral("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$"));
    if (!macForm.match(*mac).hasMatch())
        return r.fail(jsonChildPath(parent, QStringLiteral("mac")),
                      QStringLiteral("\"%1\" is not a MAC address such as 02:7A:1C:05:17:3A")
                          .arg(quoted(*mac)));
    const QStringList parts = mac->split(QLatin1Char(':'));
    for (int i = 0; i < 6; ++i)
        info.mac[std::size_t(i)] = std::uint16_t(parts[i].toUInt(nullptr, 16));
    config.identity = info;
    return true;
}

bool readNetwork(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const QString parent = QStringLiteral("network");
    const std::optional<QJsonObject> s = r.section(root, parent);
    if (!s)
        return !r.failed();
    NetworkConfig network;
    const char *const keys[] = {"ipAddress", "gateway", "subnetMask"};
    for (int i = 0; i < 3; ++i) {
        const auto octets = r.address(*s, parent, QLatin1String(keys[i]));
        if (!octets)
            return false;
        std::copy(octets->begin(), octets->end(), network.addresses.begin() + 4 * i);
    }
    const auto allow = r.boolean(*s, parent, QStringLiteral("allowConfigViaNetwork"));
    if (!allow)
        return false;
    network.allowConfigViaNetwork = *allow;
    config.network = network;
    return true;
}

bool readG50(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const QString parent = QStringLiteral("g50");
    const std::optional<QJsonObject> s = r.section(root, parent);
    if (!s)
        return !r.failed();
    const auto octets = r.address(*s, parent, QStringLiteral("ipAddress"));
    if (!octets)
        return false;
    config.g50 = *octets;
    return true;
}

bool readBACnet(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const QString parent = QStringLiteral("bacnet");
    const std::optional<QJsonObject> s = r.section(root, parent);
    if (!s)
        return !r.failed();
    BACnetSettings b;
    const auto instance =
        r.number(*s, parent, QStringLiteral("deviceInstance"), 0, MaxDeviceInstance);
    if (!instance)
        return false;
    const QString nameKey = QStringLiteral("deviceName");
    const auto nameValue = r.required(*s, parent, nameKey);
    if (!nameValue)
        return false;
    const auto name = r.nameValue(*nameValue, jsonChildPath(parent, nameKey), MaxDeviceNameLength);
    if (!name)
        return false;
    const auto comparison = r.boolean(*s, parent, QStringLiteral("newSettingComparison"));
    if (!comparison)
        return false;
    const auto foreign = r.boolean(*s, parent, QStringLiteral("foreignDevice"));
    if (!foreign)
        return false;
    const auto bbmd = r.address(*s, parent, QStringLiteral("bbmdAddress"));
    if (!bbmd)
        return false;
    // With foreign-device registration on, the time to live must be one the
    // BACnet page accepts; with it off the page sends whatever it holds.
    const auto ttl = r.number(*s, parent, QStringLiteral("timeToLive"), *foreign ? 1 : 0, 65535);
    if (!ttl)
        return false;
    b.instance = std::uint32_t(*instance);
    b.name = *name;
    b.options.newSettingComparison = *comparison;
    b.options.foreignDevice = *foreign;
    b.options.bbmd = *bbmd;
    b.options.timeToLive = std::uint16_t(*ttl);
    config.bacnet = b;
    return true;
}

bool readObjectNames(Reader &r, const QJsonObject &root, UnitConfig &config)
{
    const QString key = QStringLiteral("objectNames");
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
        const auto name = r.nameValue(list.at(i), jsonIndexPath(key, i), MaxObjectNameLength);
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

QString dottedAddress(const std::uint16_t *octets)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(octets[0])
        .arg(octets[1])
        .arg(octets[2])
        .arg(octets[3]);
}

std::optional<Octets4> parseDottedAddress(const QString &text)
{
    Octets4 octets{};
    if (checkAddress(text, &octets) != AddressCheck::Good)
        return std::nullopt;
    return octets;
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
        readHeader(reader, config.source, config) && readIdentity(reader, config.source, config) &&
        readNetwork(reader, config.source, config) && readG50(reader, config.source, config) &&
        readBACnet(reader, config.source, config) && readObjectNames(reader, config.source, config);
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

    if (const auto &id = config.identity)
        putSection(root, QStringLiteral("identity"), true,
                   {{QStringLiteral("productCode"), id->productCode},
                    {QStringLiteral("firmware"), firmwareVersionText(id->firmware)},
                    {QStringLiteral("mac"), macLabel(id->mac.data())}});
    else
        root.remove(QStringLiteral("identity"));

    if (const auto &n = config.network)
        putSection(root, QStringLiteral("network"), true,
                   {{QStringLiteral("ipAddress"), dottedAddress(n->addresses.data())},
                    {QStringLiteral("gateway"), dottedAddress(n->addresses.data() + 4)},
                    {QStringLiteral("subnetMask"), dottedAddress(n->addresses.data() + 8)},
                    {QStringLiteral("allowConfigViaNetwork"), n->allowConfigViaNetwork}});
    else
        root.remove(QStringLiteral("network"));

    putSection(root, QStringLiteral("g50"), config.g50.has_value(),
               config.g50
                   ? QJsonObject{{QStringLiteral("ipAddress"), dottedAddress(config.g50->data())}}
                   : QJsonObject{});

    if (const auto &b = config.bacnet)
        putSection(root, QStringLiteral("bacnet"), true,
                   {{QStringLiteral("deviceInstance"), qint64(b->instance)},
                    {QStringLiteral("deviceName"), nameText(b->name)},
                    {QStringLiteral("newSettingComparison"), b->options.newSettingComparison},
                    {QStringLiteral("foreignDevice"), b->options.foreignDevice},
                    {QStringLiteral("bbmdAddress"), dottedAddress(b->options.bbmd.data())},
                    {QStringLiteral("timeToLive"), b->options.timeToLive}});
    else
        root.remove(QStringLiteral("bacnet"));

    if (config.objectNames)
        root.insert(QStringLiteral("objectNames"), nameArray(*config.objectNames));
    else
        root.remove(QStringLiteral("objectNames"));
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
