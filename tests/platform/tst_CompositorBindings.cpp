#include "platform/wayland/CompositorBindings.h"

#include <QTest>

using namespace vel;
using namespace vel::CompositorBindings;

Q_DECLARE_METATYPE(vel::CompositorBindings::Compositor)

class TestCompositorBindings : public QObject {
    Q_OBJECT
private slots:
    void lines_data()
    {
        QTest::addColumn<Compositor>("compositor");
        QTest::addColumn<quint32>("startKey");
        QTest::addColumn<quint8>("startModifiers");
        QTest::addColumn<quint8>("cancelModifiers"); // on Esc
        QTest::addColumn<QStringList>("bindings");    // the lines that are not comments
        const quint8 alt = ShortcutKey::Alt, super = ShortcutKey::Super, none = 0;
        const quint8 ctrlShift = ShortcutKey::Ctrl | ShortcutKey::Shift;
        const quint32 space = ShortcutKey::kSpace, rightCtrl = 0xffe4;
        QTest::newRow("sway, the defaults: Esc is not taken")
            << Compositor::Sway << space << alt << none << QStringList{"bindsym Mod1+space exec velutanora --toggle"};
        QTest::newRow("sway, Super+Esc to cancel")
            << Compositor::Sway << space << alt << super
            << QStringList{"bindsym Mod1+space exec velutanora --toggle", "bindsym Mod4+Escape exec velutanora --cancel"};
        QTest::newRow("sway, lone Right Ctrl on release")
            << Compositor::Sway << rightCtrl << none << super
            << QStringList{"bindsym --release Control_R exec velutanora --toggle", "bindsym Mod4+Escape exec velutanora --cancel"};
        QTest::newRow("sway, Ctrl+Shift+D") << Compositor::Sway << quint32('d') << ctrlShift << none
                                            << QStringList{"bindsym Ctrl+Shift+d exec velutanora --toggle"};
        QTest::newRow("Hyprland, the defaults: Esc passes on")
            << Compositor::Hyprland << space << alt << none
            << QStringList{"bind = ALT, space, exec, velutanora --toggle", "bindn = , Escape, exec, velutanora --cancel"};
        QTest::newRow("Hyprland, lone Right Ctrl")
            << Compositor::Hyprland << rightCtrl << none << super
            << QStringList{"bindr = CTRL, Control_R, exec, velutanora --toggle", "bind = SUPER, Escape, exec, velutanora --cancel"};
        QTest::newRow("river, the defaults") << Compositor::River << space << alt << none
                                             << QStringList{"riverctl map normal Alt space spawn 'velutanora --toggle'"};
        QTest::newRow("GNOME, the defaults: Esc is not taken")
            << Compositor::Gnome << space << alt << none
            << QStringList{"gsettings set org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/velutanora-toggle/ name 'Velutanora --toggle'",
                           "gsettings set org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/velutanora-toggle/ command 'velutanora --toggle'",
                           "gsettings set org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/velutanora-toggle/ binding '<Alt>space'"};
        QTest::newRow("river, lone Right Ctrl")
            << Compositor::River << rightCtrl << none << none
            << QStringList{"riverctl map -release normal None Control_R spawn 'velutanora --toggle'"};
    }
    void lines()
    {
        QFETCH(Compositor, compositor);
        QFETCH(quint32, startKey);
        QFETCH(quint8, startModifiers);
        QFETCH(quint8, cancelModifiers);
        QFETCH(QStringList, bindings);
        const QString text = CompositorBindings::lines(compositor, ShortcutKey{startKey, startModifiers},
                                                       ShortcutKey{ShortcutKey::kEscape, cancelModifiers}, QStringLiteral("velutanora"));
        QStringList got;
        for (const QString& line : text.split('\n', Qt::SkipEmptyParts))
            if (!line.startsWith('#'))
                got << line;
        QCOMPARE(got, bindings);
    }

    // Each compositor hands the command to a shell: a path with a space and a quote stays one word
    // (sway's case is also bound and pressed under a real sway in tst_WaylandDesktop).
    void aProgramPathIsQuotedForTheShell_data()
    {
        QTest::addColumn<Compositor>("compositor");
        QTest::addColumn<QString>("binding");
        QTest::newRow("sway") << Compositor::Sway << R"(bindsym Mod1+space exec /opt/my\ apps/it\'s\#1/velutanora --toggle)";
        QTest::newRow("Hyprland: # doubled") << Compositor::Hyprland << R"(bind = ALT, space, exec, /opt/my\ apps/it\'s\##1/velutanora --toggle)";
        QTest::newRow("river: escaped for spawn's shell, quoted for the init script's") << Compositor::River << R"(riverctl map normal Alt space spawn '/opt/my\ apps/it\'\''s\#1/velutanora --toggle')";
        QTest::newRow("GNOME: escaped for g_shell_parse_argv, quoted for gsettings' line") << Compositor::Gnome << R"(gsettings set org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/velutanora-toggle/ command '/opt/my\ apps/it\'\''s\#1/velutanora --toggle')";
    }
    void aProgramPathIsQuotedForTheShell()
    {
        QFETCH(Compositor, compositor);
        QFETCH(QString, binding);
        const QString text = CompositorBindings::lines(compositor, ShortcutKey::defaultStart(), ShortcutKey::defaultCancel(),
                                                       QStringLiteral("/opt/my apps/it's#1/velutanora"));
        QVERIFY2(text.split('\n').contains(binding), qPrintable(text));
    }

    // The button keeps the user's own custom shortcuts, adds the program's once, and drops an
    // entry of the program's that no longer applies.
    void gnomeKeepsTheUsersCustomShortcuts_data()
    {
        QTest::addColumn<QString>("printed"); // what gsettings get prints
        QTest::addColumn<quint8>("cancelModifiers");
        QTest::addColumn<QStringList>("paths");
        const QString base = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
        const quint8 none = 0;
        QTest::newRow("none yet") << "@as []" << none << QStringList{base + "velutanora-toggle/"};
        QTest::newRow("the user's own stay")
            << "['" + base + "custom0/', '" + base + "custom1/']" << quint8(ShortcutKey::Super)
            << QStringList{base + "custom0/", base + "custom1/", base + "velutanora-toggle/", base + "velutanora-cancel/"};
        QTest::newRow("installed before, cancel now a plain Esc")
            << "['" + base + "velutanora-toggle/', '" + base + "velutanora-cancel/', '" + base + "custom0/']" << none
            << QStringList{base + "velutanora-toggle/", base + "custom0/"};
    }
    void gnomeKeepsTheUsersCustomShortcuts()
    {
        QFETCH(QString, printed);
        QFETCH(quint8, cancelModifiers);
        QFETCH(QStringList, paths);
        const QList<QStringList> commands =
            gnomeCommands(parseGsettingsList(printed), ShortcutKey::defaultStart(), ShortcutKey{ShortcutKey::kEscape, cancelModifiers}, "velutanora");
        QCOMPARE(commands.last().mid(0, 3), (QStringList{"set", "org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings"}));
        QCOMPARE(parseGsettingsList(commands.last().at(3)), paths);
    }

    void detection_data()
    {
        QTest::addColumn<QString>("variable");
        QTest::addColumn<QString>("value");
        QTest::addColumn<Compositor>("compositor");
        QTest::newRow("sway's socket") << "SWAYSOCK" << "/run/user/1000/sway-ipc.sock" << Compositor::Sway;
        QTest::newRow("Hyprland's signature") << "HYPRLAND_INSTANCE_SIGNATURE" << "abc" << Compositor::Hyprland;
        QTest::newRow("river by its desktop name") << "XDG_CURRENT_DESKTOP" << "river" << Compositor::River;
        QTest::newRow("GNOME") << "XDG_CURRENT_DESKTOP" << "ubuntu:GNOME" << Compositor::Gnome;
        QTest::newRow("KDE has its own service") << "XDG_CURRENT_DESKTOP" << "KDE" << Compositor::Other;
    }
    void detection()
    {
        QFETCH(QString, variable);
        QFETCH(QString, value);
        QFETCH(Compositor, compositor);
        QProcessEnvironment env;
        env.insert(variable, value);
        QCOMPARE(detect(env), compositor);
    }

    // What GNOME already holds, as gsettings prints it: the custom shortcut would never fire.
    void gnomeHolderFindsTheActionThatHoldsAKey_data()
    {
        QTest::addColumn<QString>("accelerator");
        QTest::addColumn<QString>("holder");
        QTest::newRow("the window menu holds Alt+Space") << "<Alt>space" << "activate-window-menu";
        QTest::newRow("another spelling of the same chord") << "<Mod1>Space" << "activate-window-menu";
        QTest::newRow("modifiers in another order") << "<Shift><Super>Page_Down" << "move-to-workspace-down";
        QTest::newRow("one of several keys of an action") << "<Super>p" << "switch-monitor";
        QTest::newRow("the user's own custom shortcut") << "<Primary><Alt>t" << "Terminal";
        QTest::newRow("a free chord") << "<Control><Alt>space" << "";
        QTest::newRow("a key alone is not the chord") << "space" << "";
    }
    void gnomeHolderFindsTheActionThatHoldsAKey()
    {
        QFETCH(QString, accelerator);
        QFETCH(QString, holder);
        const QStringList listing{
            "org.gnome.desktop.wm.keybindings activate-window-menu ['<Alt>space']",
            "org.gnome.desktop.wm.keybindings move-to-workspace-down ['<Super><Shift>Page_Down', '<Super><Shift><Alt>Down']",
            "org.gnome.mutter.keybindings switch-monitor ['<Super>p', 'XF86Display']",
            "org.gnome.settings-daemon.plugins.media-keys volume-step 6",
            "org.gnome.settings-daemon.plugins.media-keys custom-keybindings ['/org/x/custom0/']",
            "custom 'Terminal' ['<Control><Alt>t']"};
        QCOMPARE(gnomeHolder(accelerator, listing), holder);
    }

    void aFreeChordIsProposedWhereGnomeHoldsTheKey()
    {
        const QStringList stock{"org.gnome.desktop.wm.keybindings activate-window-menu ['<Alt>space']"};
        QCOMPARE(freeGnomeChord(stock), std::optional(ShortcutKey{ShortcutKey::kSpace, ShortcutKey::Ctrl | ShortcutKey::Alt}));
        const QStringList busy = stock + QStringList{"custom 'mine' ['<Control><Alt>space']"};
        QCOMPARE(freeGnomeChord(busy), std::optional(ShortcutKey{0xffc6, ShortcutKey::Super}));
    }
};

QTEST_GUILESS_MAIN(TestCompositorBindings)
#include "tst_CompositorBindings.moc"
