#pragma once

// The simulator's state file for window tests: registers seeded before the
// simulator starts (it loads them) and read back after the tool has written
// (it saves the file on every write, before it replies).

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QStringList>

class UnitState
{
public:
    explicit UnitState(QString path) : m_path(std::move(path)) {}

    QStringList simArguments() const { return {QStringLiteral("--state"), m_path}; }

    // Registers from `start` on; registers below it that were not set are 0.
    void seed(int unit, int start, const QList<quint16> &values)
    {
        QJsonArray space = m_seed.value(QString::number(unit)).toArray();
        while (space.size() < start + values.size())
            space.append(0);
        for (int i = 0; i < values.size(); ++i)
            space[start + i] = int(values[i]);
        m_seed.insert(QString::number(unit), space);
    }
    bool save() const
    {
        QFile file(m_path);
        return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(m_seed).toJson()) > 0;
    }

    QList<quint16> read(int unit, int start, int count) const
    {
        QFile file(m_path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QJsonArray space =
            QJsonDocument::fromJson(file.readAll()).object().value(QString::number(unit)).toArray();
        QList<quint16> values;
        for (int i = start; i < start + count && i < space.size(); ++i)
            values << quint16(space.at(i).toInt());
        return values;
    }

private:
    QString m_path;
    QJsonObject m_seed;
};
