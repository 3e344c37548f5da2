// GNOME Shell 43 and 44: extensions are scripts loaded through imports.
const {Gio, GLib, Meta, Shell, St, Clutter} = imports.gi;
const Main = imports.ui.main;
const Me = imports.misc.extensionUtils.getCurrentExtension();

class Extension {
    enable() {
        this._bridge = Me.imports.bridge.createBridge({Gio, GLib, Meta, Shell, St, Clutter, Main, global});
        this._bridge.enable();
    }

    disable() {
        this._bridge.disable();
        this._bridge = null;
    }
}

function init() {
    return new Extension();
}
