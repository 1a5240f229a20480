#pragma once

// Line numbers for the values of a JSON text. QJsonDocument keeps none, yet a
// message about a bad value in a file a person edits has to say where it is.
//
// Paths name a value the way messages do: "" is the top level, "bacnet" a key
// of it, "bacnet.deviceName" a key inside that, "objectNames[4]" the fifth
// entry of an array. The scan is tolerant: on text that is not valid JSON it
// records what it could read before the fault, so a syntax error can still be
// placed after the last key that was read.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <vector>

class JsonLocator
{
public:
    // Values nested deeper than this are not recorded: the scan stops at the
    // first one, so that text of any shape costs memory in proportion to its
    // length, not to its length times its depth.
    static constexpr int MaxDepth = 64;

    explicit JsonLocator(const QByteArray &text);

    // The line (from 1) of the value at path (of its key, for a key of an
    // object); 0 when it never occurs.
    int lineOf(const QString &path) const;
    // The path of the last key or value that starts before offset, "" when
    // none does.
    QString lastPathBefore(qsizetype offset) const;

    // The first key that occurs twice in one object (QJsonDocument silently
    // keeps one of them), with the line of its second occurrence.
    bool hasDuplicateKey() const { return m_duplicateLine > 0; }
    QString duplicateKeyPath() const { return m_duplicatePath; }
    int duplicateKeyLine() const { return m_duplicateLine; }

    // The line of a byte offset into text.
    static int lineAt(const QByteArray &text, qsizetype offset);

    // The offset of the first '{' or '[' (outside strings) that opens a level
    // deeper than maxDepth, the top-level value being level 1; -1 when there
    // is none. One pass that keeps only a count: linear time, no memory.
    static qsizetype firstTooDeep(const QByteArray &text, int maxDepth);

private:
    struct Entry
    {
        QString path;
        qsizetype offset;
        int line;
    };
    void scan(const QByteArray &text);
    void record(const QString &path, qsizetype offset, int line);

    std::vector<Entry> m_entries; // in the order of the text
    QHash<QString, int> m_lines;
    QString m_duplicatePath;
    int m_duplicateLine = 0;
};

// "a.b" for a key of "a", "b" for a key of the top level.
QString jsonChildPath(const QString &parent, const QString &key);
// "a[3]" for the entry with index 3 of the array "a".
QString jsonIndexPath(const QString &parent, int index);
