// A small text editor used as the target application of the X11 and Wayland tests. It writes its whole
// text to OUT after every change and appends each key press it receives to OUT.keys, so a
// test can see what reached it, and "in" / "out" to OUT.focus as it gains and loses the
// keyboard focus. Like a terminal, it also pastes on Ctrl+Shift+V.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>

namespace {

class Editor final : public QPlainTextEdit {
public:
    explicit Editor(QString out) : m_out(std::move(out))
    {
        connect(this, &QPlainTextEdit::textChanged, this, [this] {
            QFile f(m_out);
            if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                f.write(toPlainText().toUtf8());
        });
    }

protected:
    // Logged in event() so that a press is recorded before any of the editor's own handling sees it.
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress) {
            QFile f(m_out + QStringLiteral(".keys"));
            if (f.open(QIODevice::WriteOnly | QIODevice::Append)) {
                const auto* key = static_cast<QKeyEvent*>(event);
                f.write(QKeySequence(key->keyCombination()).toString(QKeySequence::PortableText).toUtf8() + '\n');
            }
        }
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            QFile f(m_out + QStringLiteral(".focus"));
            if (f.open(QIODevice::WriteOnly | QIODevice::Append))
                f.write(event->type() == QEvent::FocusIn ? "in\n" : "out\n");
        }
        return QPlainTextEdit::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_V && event->modifiers() == (Qt::ControlModifier | Qt::ShiftModifier)) {
            paste();
            return;
        }
        QPlainTextEdit::keyPressEvent(event);
    }

private:
    QString m_out;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    // On Wayland the app_id, by which the compositor names the window (a terminal's, in tests).
    if (args.contains(QStringLiteral("--app-id")))
        QGuiApplication::setDesktopFileName(args.value(args.indexOf(QStringLiteral("--app-id")) + 1));
    const QString out = args.value(args.indexOf(QStringLiteral("--out")) + 1, QStringLiteral("/tmp/target_editor.txt"));
    Editor editor(out);
    editor.setWindowTitle(QStringLiteral("target editor"));
    editor.resize(400, 300);
    editor.show();
    editor.activateWindow();
    return app.exec();
}
