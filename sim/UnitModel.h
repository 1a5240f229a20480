#pragma once

// The simulated unit's registers: five address spaces with factory values,
// written values kept (and optionally persisted), the animated live status
// block, and the restart cycle.

#include "SimOptions.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <array>
#include <cstdint>
#include <map>

class UnitModel : public QObject
{
    Q_OBJECT
public:
    explicit UnitModel(const SimOptions &options, QObject *parent = nullptr);

    // Unit ids of the five address spaces and their sizes in registers.
    static const std::map<int, int> &spaceSizes();

    bool hasSpace(int unit) const;
    bool inRange(int unit, int start, int count) const;
    // Registers that no write may change (the identity).
    bool isReadOnly(int unit, int start, int count) const;
    std::uint16_t value(int unit, int reg) const;
    QVector<std::uint16_t> read(int unit, int start, int count) const;
    // Stores the values and, with a state file, saves every kept space.
    void write(int unit, int start, const QVector<std::uint16_t> &values);

    // State file: false with a reason when it exists but cannot be used.
    bool loadState(QString *error);
    bool saveState(QString *error) const;

    // The restart cycle: away for restartMs, then serving again with the
    // status animation started over.
    void beginRestart();
    bool restarting() const { return m_restarting; }
    // The unit's own IP address as its network registers hold it.
    std::array<std::uint16_t, 4> ipOctets() const;

    // Advances the live status block to `seconds` after the last start; public
    // so that tests can check the animation without waiting for it.
    void animateTo(qint64 milliseconds);

signals:
    void restartBegan();
    void restartEnded();

private:
    void setFactoryValues();
    void setSettledStatus();
    void tick();

    const SimOptions &m_options;
    std::map<int, QVector<std::uint16_t>> m_spaces;
    QElapsedTimer m_sinceStart;
    QTimer m_animation;
    bool m_restarting = false;
};
