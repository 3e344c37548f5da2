// The program's way into GNOME Shell on Wayland, where a client can neither set the clipboard
// without a focused window, nor type into another window, nor grab a key. It offers only what
// the program needs: set the clipboard (never read it), press one of three fixed chords, say
// which window has the focus (never its title) and bring it back, and grab the program's two
// shortcuts. It answers only the connection that owns the program's bus name, as the shell's
// own services check their callers, tells the focus to that connection alone, and lets the
// grabs go when the name leaves the bus. A program of the same user could still take the name
// while Velutanora is not running: this keeps strangers out, it is no sandbox.
//
// No imports here: the entry file passes them in, so this text serves both the imports.gi form
// (GNOME 43-44) and the ES module form (GNOME 45 and later).

var INTERFACE = 'org.velutanora.GnomeShell1';
var OBJECT_PATH = '/org/velutanora/GnomeShell';
var VERSION = 2;
var PROGRAM_NAME = 'org.velutanora.Velutanora';
var MAX_TEXT_LENGTH = 1000000;

var INTERFACE_XML = `<node>
  <interface name="${INTERFACE}">
    <property name="Version" type="u" access="read"/>
    <method name="SetClipboard"><arg name="text" type="s" direction="in"/></method>
    <method name="PressChord"><arg name="chord" type="s" direction="in"/></method>
    <method name="FocusedWindow"><arg name="window" type="a{sv}" direction="out"/></method>
    <method name="ActivateWindow">
      <arg name="id" type="t" direction="in"/><arg name="activated" type="b" direction="out"/>
    </method>
    <method name="Grab">
      <arg name="action" type="s" direction="in"/><arg name="accelerator" type="s" direction="in"/>
      <arg name="grabbed" type="b" direction="out"/>
    </method>
    <method name="Ungrab"><arg name="action" type="s" direction="in"/></method>
    <signal name="Activated"><arg name="action" type="s"/></signal>
    <signal name="FocusChanged"><arg name="window" type="a{sv}"/></signal>
  </interface>
</node>`;

var ACTIONS = ['toggle', 'cancel'];
var MODIFIER_KEYS = ['Control_L', 'Control_R', 'Shift_L', 'Shift_R', 'Alt_L', 'Alt_R', 'Super_L', 'Super_R',
    'Meta_L', 'Meta_R', 'Hyper_L', 'Hyper_R', 'ISO_Level3_Shift'];
// A key that may be grabbed without a modifier: grabbing a plain letter would take it from typing.
// Escape alone only as the cancel key, which the program grabs only while a dictation runs.
var LONE_KEY = /^(F([1-9]|1[0-9]|2[0-4])|Pause|Scroll_Lock|Insert|Menu)$/;
var ACCELERATOR = /^((<(Control|Primary|Alt|Shift|Super|Meta|Hyper)>)*)([A-Za-z0-9_]{1,32})$/;

// Why the accelerator cannot be grabbed for the action, or null when it can.
function acceleratorProblem(action, accelerator) {
    if (typeof accelerator !== 'string' || accelerator.length > 96)
        return 'not an accelerator';
    const match = ACCELERATOR.exec(accelerator);
    if (!match)
        return 'not an accelerator';
    const key = match[4];
    if (MODIFIER_KEYS.includes(key))
        return 'a lone modifier key cannot be grabbed here: the grab would also fire when it is used as a modifier';
    if (match[1] === '' && !LONE_KEY.test(key) && !(key === 'Escape' && action === 'cancel'))
        return 'a key without a modifier would be taken from typing';
    // Ctrl (and Shift) with a letter is an application's own command: copy, paste, save.
    if (/^[A-Za-z]$/.test(key) && /<(Control|Primary)>/.test(match[1]) && !/<(Alt|Super|Meta|Hyper)>/.test(match[1]))
        return 'Ctrl with a letter is a key applications use';
    return null;
}

function createBridge(gi) {
    const {Gio, GLib, Meta, Shell, St, Clutter, Main, global} = gi;

    const CHORDS = {
        'paste': [Clutter.KEY_Control_L, Clutter.KEY_v],
        'terminal-paste': [Clutter.KEY_Control_L, Clutter.KEY_Shift_L, Clutter.KEY_v],
        'return': [Clutter.KEY_Return],
    };
    const HELD = Clutter.ModifierType.CONTROL_MASK | Clutter.ModifierType.SHIFT_MASK |
        Clutter.ModifierType.MOD1_MASK | Clutter.ModifierType.SUPER_MASK | Clutter.ModifierType.MOD4_MASK;

    class Bridge {
        enable() {
            // One keyboard for the whole session: the first key of a new virtual device is lost
            // on a seat that had no keyboard, so it is made now and primed with a harmless key.
            // The stage's context gives the backend where Clutter.get_default_backend() is gone (GNOME 51).
            const backend = global.stage.context?.get_backend?.() ?? Clutter.get_default_backend();
            const seat = backend.get_default_seat();
            this._keyboard = seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);
            this._tap(Clutter.KEY_Shift_L);
            this._grabs = new Map(); // action → {id, accelerator}
            this._program = null; // the unique name that owns PROGRAM_NAME
            this._pending = new Set();
            this._programWatch = Gio.bus_watch_name_on_connection(Gio.DBus.session, PROGRAM_NAME,
                Gio.BusNameWatcherFlags.NONE, (connection, name, owner) => this._setProgram(owner),
                () => this._setProgram(null));
            this._accelerator = global.display.connect('accelerator-activated', (display, id) => {
                for (const [action, grab] of this._grabs) {
                    if (grab.id === id && this._program)
                        this._emit(this._program, 'Activated', new GLib.Variant('(s)', [action]));
                }
            });
            this._focus = global.display.connect('notify::focus-window', () => this._tellFocus());
            this._object = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this._guarded());
            this._object.export(Gio.DBus.session, OBJECT_PATH);
        }

        disable() {
            this._object.unexport();
            this._object = null;
            global.display.disconnect(this._accelerator);
            global.display.disconnect(this._focus);
            for (const source of this._pending)
                GLib.source_remove(source);
            this._pending.clear();
            Gio.bus_unwatch_name(this._programWatch);
            this._setProgram(null);
            this._keyboard = null;
        }

        // The handlers as exported: an exception answers the caller with an error instead of
        // leaving it waiting for its timeout.
        _guarded() {
            const bridge = this;
            const guarded = {get Version() { return VERSION; }};
            for (const name of ['SetClipboard', 'PressChord', 'FocusedWindow', 'ActivateWindow', 'Grab', 'Ungrab']) {
                guarded[`${name}Async`] = (params, invocation) => bridge._fromProgram(invocation, () => {
                    try {
                        bridge[`${name}Async`](params, invocation);
                    } catch (e) {
                        logError(e, `Velutanora: ${name}`);
                        invocation.return_dbus_error(`${INTERFACE}.Error.Failed`, String(e));
                    }
                });
            }
            return guarded;
        }

        get Version() {
            return VERSION;
        }

        // Runs the call when its sender owns the program's name. The watch may not have heard
        // of a program that just took it, so a stranger is asked about once more before the refusal.
        _fromProgram(invocation, run) {
            const sender = invocation.get_sender();
            if (sender !== null && sender === this._program)
                return run();
            Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                'GetNameOwner', new GLib.Variant('(s)', [PROGRAM_NAME]), new GLib.VariantType('(s)'),
                Gio.DBusCallFlags.NONE, -1, null, (connection, result) => {
                    let owner = null;
                    try {
                        [owner] = connection.call_finish(result).deepUnpack();
                    } catch (e) {
                        owner = null;
                    }
                    if (owner !== null && owner === sender) {
                        this._setProgram(owner);
                        run();
                    } else {
                        this._refuse(invocation, 'AccessDenied', `only the owner of ${PROGRAM_NAME} may use this`);
                    }
                });
            return undefined;
        }

        // A new owner of the name starts with no grab; the one that left keeps none.
        _setProgram(owner) {
            if (owner === this._program)
                return;
            for (const action of [...this._grabs.keys()])
                this._release(action);
            this._program = owner;
            this._tellFocus();
        }

        _windowInfo() {
            const window = global.display.focus_window;
            const info = {};
            if (window) {
                const app = Shell.WindowTracker.get_default().get_window_app(window);
                info['id'] = new GLib.Variant('t', window.get_id());
                info['app-id'] = new GLib.Variant('s', app ? app.get_id() : '');
                info['wm-class'] = new GLib.Variant('s', window.get_wm_class() || '');
                info['pid'] = new GLib.Variant('i', window.get_pid());
                info['client'] = new GLib.Variant('s',
                    window.get_client_type() === Meta.WindowClientType.X11 ? 'x11' : 'wayland');
            }
            return info;
        }

        _tellFocus() {
            if (this._program)
                this._emit(this._program, 'FocusChanged', new GLib.Variant('(a{sv})', [this._windowInfo()]));
        }

        SetClipboardAsync([text], invocation) {
            if (text.length > MAX_TEXT_LENGTH)
                return this._refuse(invocation, 'InvalidArgs', `the text is longer than ${MAX_TEXT_LENGTH} characters`);
            St.Clipboard.get_default().set_text(St.ClipboardType.CLIPBOARD, text);
            invocation.return_value(null);
        }

        // Waits (up to a second) for keys the user still holds, so that they do not combine with
        // the chord, then presses it and answers once the keys went out.
        PressChordAsync([chord], invocation) {
            const keys = Object.prototype.hasOwnProperty.call(CHORDS, chord) ? CHORDS[chord] : null;
            if (!keys)
                return this._refuse(invocation, 'InvalidArgs', `unknown chord "${chord}"`);
            let waited = 0;
            const press = () => {
                const [, , mods] = global.get_pointer();
                if ((mods & HELD) !== 0 && waited < 1000) {
                    waited += 20;
                    return GLib.SOURCE_CONTINUE;
                }
                this._pending.delete(source);
                this._chord(keys);
                invocation.return_value(null);
                return GLib.SOURCE_REMOVE;
            };
            const source = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 20, press);
            this._pending.add(source);
        }

        FocusedWindowAsync(params, invocation) {
            invocation.return_value(new GLib.Variant('(a{sv})', [this._windowInfo()]));
        }

        ActivateWindowAsync([id], invocation) {
            const actor = global.get_window_actors().find(a => a.meta_window.get_id() === id);
            if (actor)
                Main.activateWindow(actor.meta_window);
            invocation.return_value(new GLib.Variant('(b)', [actor !== undefined]));
        }

        // The grabs belong to the program until its name leaves the bus or it lets go.
        GrabAsync([action, accelerator], invocation) {
            if (!ACTIONS.includes(action))
                return this._refuse(invocation, 'InvalidArgs', `unknown action "${action}"`);
            const problem = acceleratorProblem(action, accelerator);
            if (problem)
                return this._refuse(invocation, 'InvalidArgs', problem);
            this._release(action);
            const id = global.display.grab_accelerator(accelerator, Meta.KeyBindingFlags.NONE);
            if (id !== Meta.KeyBindingAction.NONE) {
                Main.wm.allowKeybinding(Meta.external_binding_name_for_action(id), Shell.ActionMode.ALL);
                this._grabs.set(action, {id, accelerator});
            }
            invocation.return_value(new GLib.Variant('(b)', [id !== Meta.KeyBindingAction.NONE]));
        }

        UngrabAsync([action], invocation) {
            if (!ACTIONS.includes(action))
                return this._refuse(invocation, 'InvalidArgs', `unknown action "${action}"`);
            this._release(action);
            invocation.return_value(null);
        }

        _refuse(invocation, name, message) {
            invocation.return_dbus_error(`${INTERFACE}.Error.${name}`, message);
        }

        _emit(destination, signal, parameters) {
            Gio.DBus.session.emit_signal(destination, OBJECT_PATH, INTERFACE, signal, parameters);
        }

        _tap(key) {
            this._press(key, Clutter.KeyState.PRESSED);
            this._press(key, Clutter.KeyState.RELEASED);
        }

        _press(key, state) {
            this._keyboard.notify_keyval(GLib.get_monotonic_time(), key, state);
        }

        _chord(keys) {
            for (const key of keys)
                this._press(key, Clutter.KeyState.PRESSED);
            for (const key of [...keys].reverse())
                this._press(key, Clutter.KeyState.RELEASED);
        }

        _release(action) {
            const grab = this._grabs.get(action);
            if (!grab)
                return;
            Main.wm.allowKeybinding(Meta.external_binding_name_for_action(grab.id), Shell.ActionMode.NONE);
            global.display.ungrab_accelerator(grab.id);
            this._grabs.delete(action);
        }
    }

    return new Bridge();
}
