#include "DeviceList.h"

namespace Bacnet {

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool fromUnit(const FoundDevice &device, const ExpectedUnit &unit)
{
    return device.address.isEqual(unit.address, QHostAddress::TolerantConversion);
}

} // namespace

QString deviceName(const FoundDevice &device)
{
    return device.nameRead && device.nameProblem.isEmpty() ? device.name : QString();
}

bool differsFromUnit(const FoundDevice &device, const ExpectedUnit &unit)
{
    if (!fromUnit(device, unit))
        return false;
    const bool otherInstance = unit.instance && *unit.instance != device.iam.device.instance;
    const bool otherName =
        unit.name && device.nameRead && device.nameProblem.isEmpty() && *unit.name != device.name;
    return otherInstance || otherName;
}

QString deviceNotes(const FoundDevice &device, const std::optional<ExpectedUnit> &unit)
{
    QStringList notes;
    if (device.duplicate)
        notes << QStringLiteral("duplicate instance");
    if (!device.nameProblem.isEmpty())
        notes << QStringLiteral("name not read: %1").arg(device.nameProblem);
    if (unit && differsFromUnit(device, *unit)) {
        QStringList page;
        if (unit->instance && *unit->instance != device.iam.device.instance)
            page << QStringLiteral("instance %1").arg(*unit->instance);
        if (unit->name && *unit->name != device.name)
            page << QStringLiteral("name \"%1\"").arg(*unit->name);
        notes << QStringLiteral("differs from the BACnet page: %1")
                     .arg(page.join(QStringLiteral(", ")));
    } else if (unit && fromUnit(device, *unit)) {
        notes << QStringLiteral("the session's unit");
    }
    return notes.join(QStringLiteral("; "));
}

QStringList deviceHeaders()
{
    return {QStringLiteral("instance"), QStringLiteral("address"),      QStringLiteral("vendor"),
            QStringLiteral("max APDU"), QStringLiteral("segmentation"), QStringLiteral("name"),
            QStringLiteral("notes")};
}

QStringList deviceRow(const FoundDevice &device, const std::optional<ExpectedUnit> &unit)
{
    return {QString::number(device.iam.device.instance),
            QStringLiteral("%1:%2").arg(device.address.toString()).arg(device.port),
            QString::number(device.iam.vendorId),
            QString::number(device.iam.maxApdu),
            segmentationText(device.iam.segmentation),
            deviceName(device),
            deviceNotes(device, unit)};
}

QString devicesCsv(const std::vector<FoundDevice> &devices, const std::optional<ExpectedUnit> &unit)
{
    QStringList lines;
    QStringList header;
    for (const QString &h : deviceHeaders())
        header << csvField(h);
    lines << header.join(QLatin1Char(','));
    for (const FoundDevice &d : devices) {
        QStringList fields;
        for (const QString &f : deviceRow(d, unit))
            fields << csvField(f);
        lines << fields.join(QLatin1Char(','));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

} // namespace Bacnet
