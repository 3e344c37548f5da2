#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QLocalServer;

namespace vel {

// One running program per user. A second launch hands its command ("show", "toggle",
// "cancel") to the running one over a local socket and exits.
//
// The socket and its lock live in a folder only this user can enter: the first launch to
// take the lock is the one that runs, so two launches at the same moment leave exactly one.
// Both ends check that the other runs as the same user.
class SingleInstance final : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Primary,     // this launch runs: it holds the lock and listens
        HandedOver,  // the running instance took the command
        Unreachable, // another instance holds the lock but did not take the command
        Unsafe,      // no private folder to meet in (problem() says why)
    };

    // folder: where the socket and the lock go; it must be private to us (see privateFolder).
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR/velutanora, or <fallbackParent>/velutanora-run-<uid> when the runtime
    // folder is unset or not ours alone. Created 0700 when missing; an existing one must be a
    // real folder of ours that nobody else can enter. Empty, with *problem set, otherwise.
    static QString privateFolder(const QString& runtimeDir, const QString& fallbackParent, QString* problem);
    static QString defaultFolder(QString* problem);
    // The commands a launch may hand over; anything else is answered with an error.
    static bool isCommand(const QString& command);
    static constexpr qint64 kMaxLine = 256;

    Outcome start(const QString& command, int timeoutMs = 3000);
    QString problem() const { return m_problem; }
    // Hands the command to a running instance without ever becoming one: nothing when none runs,
    // else whether it took the command. Needs no GUI, so a compositor's bound --toggle starts fast
    // and on any platform.
    std::optional<bool> handOverToRunning(const QString& command, int timeoutMs = 3000);

signals:
    void commandReceived(const QString& command);

private:
    bool listen();
    bool send(const QString& command, int timeoutMs);

    QString m_folder;
    QString m_problem;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};

} // namespace vel
