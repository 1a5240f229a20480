#include "AboutBox.h"

#include "PageKit.h"
#include "RavelinVersion.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

#ifdef Q_OS_WIN
#include <QHash>
#include <windows.h>
#endif

namespace {

const QString NotAvailable = QStringLiteral("N/A");

class BuiltInVersion final : public VersionSource
{
public:
    std::optional<QString> value(const QString &key) const override
    {
        using namespace RavelinVersion;
        const std::pair<const char *, const char *> table[] = {
            {"CompanyName", CompanyName},           {"FileDescription", FileDescription},
            {"FileVersion", FileVersion},           {"InternalName", InternalName},
            {"LegalCopyright", LegalCopyright},     {"LegalTradeMarks", LegalTradeMarks},
            {"OriginalFilename", OriginalFilename}, {"ProductName", ProductName},
            {"ProductVersion", ProductVersion},     {"Comments", Comments}};
        for (const auto &[name, text] : table)
            if (key == QLatin1String(name) && *text)
                return QString::fromUtf8(text);
        return std::nullopt;
    }
    bool preRelease() const override { return RavelinVersion::PreRelease; }
};

// The program picture: a computer with a gear, and an arrow down to a small
// device box. Drawn at its shown size so it stays sharp.
QPixmap programPicture(qreal devicePixelRatio)
{
    QPixmap pixmap(qRound(64 * devicePixelRatio), qRound(64 * devicePixelRatio));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(0xC0, 0xC0, 0xC0));
    p.drawRect(QRectF(4, 4, 34, 24)); // monitor
    p.setBrush(QColor(0x00, 0x00, 0x80));
    p.drawRect(QRectF(8, 8, 26, 16)); // screen
    p.setBrush(QColor(0xC0, 0xC0, 0xC0));
    p.drawRect(QRectF(14, 28, 14, 4)); // stand
    // The gear on the screen.
    p.setPen(QPen(QColor(0xFF, 0xD7, 0x00), 2.5));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(21, 16);
        p.rotate(45.0 * i);
        p.drawLine(QPointF(0, 3.5), QPointF(0, 6));
        p.restore();
    }
    p.drawEllipse(QPointF(21, 16), 3.5, 3.5);
    // The arrow down to the unit.
    p.setPen(QPen(QColor(0x00, 0x80, 0x00), 3));
    p.drawLine(QPointF(46, 14), QPointF(46, 42));
    QPainterPath head;
    head.moveTo(39, 38);
    head.lineTo(53, 38);
    head.lineTo(46, 47);
    head.closeSubpath();
    p.fillPath(head, QColor(0x00, 0x80, 0x00));
    // The device box.
    p.setPen(QPen(Qt::black, 1.5));
    p.setBrush(QColor(0xE8, 0xE8, 0xE8));
    p.drawRect(QRectF(34, 50, 26, 10));
    p.setBrush(QColor(0x00, 0x80, 0x00));
    p.drawEllipse(QPointF(39, 55), 1.8, 1.8);
    return pixmap;
}

// A large slanted pale red BETA on a transparent ground.
QPixmap betaPicture(const QSize &size, qreal devicePixelRatio)
{
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(size.height() * 2 / 3);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(0xFF, 0x00, 0x00, 0x50));
    p.translate(size.width() / 2.0, size.height() / 2.0);
    p.rotate(-15);
    const QRectF area(-size.width() / 2.0, -size.height() / 2.0, size.width(), size.height());
    p.drawText(area, Qt::AlignCenter, QStringLiteral("BETA"));
    return pixmap;
}

constexpr int ProductNameHeight = 25;

QLabel *textLabel(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    PageKit::setTextColour(label, Qt::black);
    return label;
}

} // namespace

const std::array<const char *, TAboutBox::KeyCount> TAboutBox::VersionKeys = {
    "CompanyName",     "FileDescription",  "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTradeMarks", "OriginalFilename", "ProductName", "ProductVersion", "Comments"};

#ifdef Q_OS_WIN
namespace {

// The version information resource of an executable, read once: the string
// values under the first language and code page the resource lists, and the
// pre-release flag of its fixed part.
class ResourceVersion final : public VersionSource
{
public:
    explicit ResourceVersion(const QString &path)
    {
        const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
        if (size == 0)
            return;
        std::vector<char> block(size);
        if (!GetFileVersionInfoW(file.c_str(), 0, size, block.data()))
            return;
        void *fixed = nullptr;
        UINT fixedSize = 0;
        if (VerQueryValueW(block.data(), L"\\", &fixed, &fixedSize) &&
            fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
            const auto *info = static_cast<const VS_FIXEDFILEINFO *>(fixed);
            m_preRelease = (info->dwFileFlags & info->dwFileFlagsMask & VS_FF_PRERELEASE) != 0;
        }
        // Without a translation list there is no string table to name.
        void *translation = nullptr;
        UINT translationSize = 0;
        if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translation,
                            &translationSize) ||
            translationSize < 2 * sizeof(WORD))
            return;
        const auto *pair = static_cast<const WORD *>(translation);
        // "StringFileInfo\040904B0\": language and code page, four upper-case
        // hexadecimal digits each.
        const QString prefix = QStringLiteral("StringFileInfo\\") +
                               QStringLiteral("%1%2")
                                   .arg(pair[0], 4, 16, QLatin1Char('0'))
                                   .arg(pair[1], 4, 16, QLatin1Char('0'))
                                   .toUpper() +
                               QLatin1Char('\\');
        for (const char *key : TAboutBox::VersionKeys) {
            const std::wstring query = (prefix + QLatin1String(key)).toStdWString();
            void *text = nullptr;
            UINT length = 0;
            if (VerQueryValueW(block.data(), query.c_str(), &text, &length) && text)
                m_values.insert(QLatin1String(key),
                                QString::fromWCharArray(static_cast<const wchar_t *>(text))
                                    .left(length > 0 ? int(length) - 1 : 0));
        }
    }

    std::optional<QString> value(const QString &key) const override
    {
        const auto it = m_values.find(key);
        return it == m_values.end() ? std::nullopt : std::optional<QString>(*it);
    }
    bool preRelease() const override { return m_preRelease; }

private:
    QHash<QString, QString> m_values;
    bool m_preRelease = false;
};

} // namespace

std::unique_ptr<VersionSource> executableVersionSource(const QString &path)
{
    return std::make_unique<ResourceVersion>(path);
}

// On Windows the values come from the running executable's own version
// resource, as Explorer shows them.
std::unique_ptr<VersionSource> builtInVersionSource()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    return executableVersionSource(QString::fromWCharArray(path, int(length)));
}
#else
std::unique_ptr<VersionSource> builtInVersionSource()
{
    return std::make_unique<BuiltInVersion>();
}
#endif

QString versionLine(const QString &fileVersion)
{
    // p: the 1-based position of the last ".", 0 when there is none.
    const int p = int(fileVersion.lastIndexOf(QLatin1Char('.'))) + 1;
    return QStringLiteral("Version ") + fileVersion.left(p > 0 ? p - 1 : 0) +
           QStringLiteral("  Build ") + fileVersion.mid(p);
}

TAboutBox::TAboutBox(QWidget *parent) : TAboutBox(builtInVersionSource(), parent) {}

TAboutBox::TAboutBox(std::unique_ptr<VersionSource> source, QWidget *parent)
    : QDialog(parent), m_source(std::move(source))
{
    build();
    ReadVersionInfo();
}

void TAboutBox::build()
{
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About...."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(337, 193);

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("Panel1"));
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    frame->setGeometry(8, 8, 81, 81);
    ProgramIcon = new QLabel(frame);
    ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
    ProgramIcon->setGeometry(8, 8, 64, 64);
    ProgramIcon->setPixmap(programPicture(devicePixelRatioF()));

    ProductName = textLabel(this, "ProductName", QRect(104, 16, 222, ProductNameHeight));
    ProductName->setWordWrap(true);
    Version = textLabel(this, "Version", QRect(104, 48, 222, 17));
    Copyright = textLabel(this, "Copyright", QRect(104, 72, 222, 17));

    BetaWatermark = new QLabel(this);
    BetaWatermark->setObjectName(QStringLiteral("BetaWatermark"));
    BetaWatermark->setGeometry(8, 8, 321, 137);
    BetaWatermark->setAttribute(Qt::WA_TransparentForMouseEvents);
    BetaWatermark->setPixmap(betaPicture(BetaWatermark->size(), devicePixelRatioF()));
    BetaWatermark->hide();

    auto *bevel = new QFrame(this);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    bevel->setGeometry(8, 150, 321, 2);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(131, 160, 75, 25);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::ReadVersionInfo()
{
    values.fill(NotAvailable);
    preRelease = false;
    if (m_source) {
        for (int i = 0; i < KeyCount; ++i)
            if (std::optional<QString> v = m_source->value(QLatin1String(VersionKeys[size_t(i)])))
                values[size_t(i)] = *v;
        preRelease = m_source->preRelease();
    }
    ProductName->setText(values[1]);
    // A description that wraps onto a second line needs a little more than
    // the 25 pixels the box gives it; it may grow down to the version line.
    ProductName->resize(ProductName->width(),
                        std::clamp(ProductName->heightForWidth(ProductName->width()),
                                   ProductNameHeight, Version->y() - ProductName->y()));
    Version->setText(versionLine(values[2]));
    Copyright->setText(values[4]);
    BetaWatermark->setVisible(preRelease);
}
