#pragma once

// The About box: the program's description, version and build, and
// copyright line, with a BETA watermark on pre-release builds. The values
// come from a version source, read once when the box is created.

#include <QDialog>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;

// Where the version values come from: the build's own values in the program,
// a table in tests.
class VersionSource
{
public:
    virtual ~VersionSource() = default;
    // The value stored under a version key ("FileVersion", ...), nothing when
    // the key is missing.
    virtual std::optional<QString> value(const QString &key) const = 0;
    virtual bool preRelease() const = 0;
};

// The program's own values: on Windows its executable's version resource,
// elsewhere the values fixed when the build was configured (the same ones).
std::unique_ptr<VersionSource> builtInVersionSource();

#ifdef Q_OS_WIN
// The version resource of the executable at path; every key missing when it
// has none.
std::unique_ptr<VersionSource> executableVersionSource(const QString &path);
#endif

// "Version 1.2.3  Build 45" from "1.2.3.45": split at the last "."; without
// one, everything is the build ("Version   Build N/A").
QString versionLine(const QString &fileVersion);

class TAboutBox : public QDialog
{
    Q_OBJECT
public:
    static constexpr int KeyCount = 10;
    // The version keys in their order; the box shows values 2, 3 and 5.
    static const std::array<const char *, KeyCount> VersionKeys;

    explicit TAboutBox(QWidget *parent = nullptr);
    // Reads from the given source instead of the build's values (tests).
    explicit TAboutBox(std::unique_ptr<VersionSource> source, QWidget *parent = nullptr);

    // Every value "N/A" until the source has it; then the labels and the
    // watermark.
    void ReadVersionInfo();

    std::array<QString, KeyCount> values;
    bool preRelease = false;

    QLabel *ProgramIcon = nullptr;
    QLabel *ProductName = nullptr; // the description line
    QLabel *Version = nullptr;
    QLabel *Copyright = nullptr;
    QLabel *BetaWatermark = nullptr;
    QPushButton *OKButton = nullptr;

private:
    void build();

    std::unique_ptr<VersionSource> m_source;
};
