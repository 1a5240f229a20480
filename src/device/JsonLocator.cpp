#include "JsonLocator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <optional>

namespace {

// One open object or array of the scan.
struct Frame
{
    QString path;
    bool object = false;
    bool expectKey = false; // objects: the next string is a key
    int index = 0;          // arrays: the entry being read
    QString key;            // objects: the key of the value being read
    QSet<QString> keys;
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The text of a string token as JSON defines it (escapes resolved); the raw
// text when the token is not a valid string.
QString keyText(const QByteArray &token)
{
    const QJsonDocument doc = QJsonDocument::fromJson('[' + token + ']');
    if (doc.isArray() && doc.array().size() == 1 && doc.array().at(0).isString())
        return doc.array().at(0).toString();
    return QString::fromUtf8(token);
}

// The end (one past the closing quote) of the string token starting at `at`,
// or text.size() when it does not close.
qsizetype stringEnd(const QByteArray &text, qsizetype at)
{
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (text[i] == '\\')
            ++i;
        else if (text[i] == '"')
            return i + 1;
        else if (text[i] == '\n')
            return text.size(); // JSON strings hold no raw line break
    }
    return text.size();
}

} // namespace

QString jsonChildPath(const QString &parent, const QString &key)
{
    return parent.isEmpty() ? key : parent + QLatin1Char('.') + key;
}

QString jsonIndexPath(const QString &parent, int index)
{
    return parent + QStringLiteral("[%1]").arg(index);
}

JsonLocator::JsonLocator(const QByteArray &text)
{
    scan(text);
}

int JsonLocator::lineAt(const QByteArray &text, qsizetype offset)
{
    const qsizetype end = std::min(offset, text.size());
    return 1 + int(QByteArrayView(text.constData(), end).count('\n'));
}

qsizetype JsonLocator::firstTooDeep(const QByteArray &text, int maxDepth)
{
    int depth = 0;
    for (qsizetype pos = 0; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            pos = stringEnd(text, pos) - 1; // the closing quote; the loop steps past it
        } else if (c == '{' || c == '[') {
            if (++depth > maxDepth)
                return pos;
        } else if ((c == '}' || c == ']') && depth > 0) {
            --depth;
        }
    }
    return -1;
}

void JsonLocator::record(const QString &path, qsizetype offset, int line)
{
    m_entries.push_back({path, offset, line});
    if (!m_lines.contains(path))
        m_lines.insert(path, line);
}

void JsonLocator::scan(const QByteArray &text)
{
    std::vector<Frame> stack;
    bool rootSeen = false;
    int line = 1;
    // The path of a value that starts here, from the innermost open container.
    const auto valuePath = [&stack]() {
        const Frame &top = stack.back();
        return top.object ? jsonChildPath(top.path, top.key) : jsonIndexPath(top.path, top.index);
    };
    const auto valueStart = [&](qsizetype at) -> std::optional<QString> {
        if (stack.empty()) {
            if (rootSeen)
                return std::nullopt; // text after the top-level value
            rootSeen = true;
            record(QString(), at, line);
            return QString();
        }
        const QString path = valuePath();
        record(path, at, line);
        return path;
    };

    qsizetype pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '\n') {
            ++line;
            ++pos;
        } else if (isSpace(c)) {
            ++pos;
        } else if (c == '{' || c == '[') {
            if (stack.size() >= std::size_t(MaxDepth))
                return;
            const std::optional<QString> path = valueStart(pos);
            if (!path)
                return;
            Frame frame;
            frame.path = *path;
            frame.object = c == '{';
            frame.expectKey = frame.object;
            stack.push_back(std::move(frame));
            ++pos;
        } else if (c == '}' || c == ']') {
            if (stack.empty())
                return;
            stack.pop_back();
            ++pos;
        } else if (c == ',') {
            if (stack.empty())
                return;
            Frame &top = stack.back();
            if (top.object)
                top.expectKey = true;
            else
                ++top.index;
            ++pos;
        } else if (c == ':') {
            if (stack.empty())
                return;
            stack.back().expectKey = false;
            ++pos;
        } else if (c == '"') {
            const qsizetype end = stringEnd(text, pos);
            if (!stack.empty() && stack.back().object && stack.back().expectKey) {
                Frame &top = stack.back();
                top.key = keyText(text.mid(pos, end - pos));
                if (top.keys.contains(top.key) && m_duplicateLine == 0) {
                    m_duplicatePath = jsonChildPath(top.path, top.key);
                    m_duplicateLine = line;
                }
                top.keys.insert(top.key);
                record(jsonChildPath(top.path, top.key), pos, line);
            } else if (!valueStart(pos)) {
                return;
            }
            pos = end;
        } else {
            // A number or a literal: it runs to the next separator.
            if (!valueStart(pos))
                return;
            while (pos < text.size() && !isSpace(text[pos]) && text[pos] != ',' &&
                   text[pos] != ']' && text[pos] != '}')
                ++pos;
        }
    }
}

int JsonLocator::lineOf(const QString &path) const
{
    return m_lines.value(path, 0);
}

QString JsonLocator::lastPathBefore(qsizetype offset) const
{
    QString path;
    for (const Entry &entry : m_entries) {
        if (entry.offset >= offset)
            break;
        path = entry.path;
    }
    return path;
}
