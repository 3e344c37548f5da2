#pragma once

#include "common/Clock.h"
#include "dictation/Pasteboard.h"
#include "dictation/SyntheticInput.h"

#include <QDBusConnection>
#include <QObject>

#include <memory>

namespace vel {

class Logger;

// GNOME without the program's extension: the clipboard and the paste chord through mutter's own
// remote-desktop API (org.gnome.Mutter.RemoteDesktop), which any client of the session may call
// and which asks nothing. A session is opened for a paste and closed shortly after it; while it
// is open the top bar shows a remote-access indicator. It is a private API: probe before use.
class MutterRemoteDesktop final : public QObject, public SyntheticInput {
    Q_OBJECT
public:
    static inline const QString kService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

    MutterRemoteDesktop(Logger& log, Clock& clock, QDBusConnection bus, QObject* parent = nullptr);
    ~MutterRemoteDesktop() override;

    // Whether mutter offers the API on this bus.
    static bool isOffered(const QDBusConnection& bus);

    bool isAllowed() const override { return true; }
    Task<StrokeResult> sendKeyStroke(KeyChord chord, ApplicationRef target) override;
    // Offers the text as the clipboard's owner for as long as the session is open.
    QString setClipboard(const QString& text);
    bool hasSession() const { return !m_session.isEmpty(); }

    // How long a session stays open after the last stroke, so the target can read the text.
    static constexpr double kLingerSeconds = 3.0;

private slots:
    void onSelectionTransfer(const QString& mimeType, uint serial);
    void onClosed();

private:
    QString openSession();
    void closeSession();
    void lingerThenClose();
    QDBusMessage call(const QString& method, const QVariantList& arguments = {});
    void keysym(quint32 sym, bool pressed);

    Logger& m_log;
    Clock& m_clock;
    QDBusConnection m_bus;
    QString m_session;
    QByteArray m_text;
    std::unique_ptr<ClockTimer> m_close;
};

// The clipboard half of the same session.
class MutterPasteboard final : public Pasteboard {
public:
    explicit MutterPasteboard(MutterRemoteDesktop& remote) : m_remote(remote) {}
    Task<QString> setText(QString text) override { co_return m_remote.setClipboard(text); }

private:
    MutterRemoteDesktop& m_remote;
};

} // namespace vel
