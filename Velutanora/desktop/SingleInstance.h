#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace vel {

// One running program per user. A second launch hands its command ("show", "toggle",
// "cancel") to the running one over a local socket and exits.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString defaultName();
    // True when another instance took the command; false when this one should run (and listen).
    bool sendToRunning(const QString& command, int timeoutMs = 1000);
    bool listen();

signals:
    void commandReceived(const QString& command);

private:
    QString m_name;
    QLocalServer* m_server = nullptr;
};

} // namespace vel
