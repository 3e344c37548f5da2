// GNOME Shell 45 and later: extensions are ES modules.
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Meta from 'gi://Meta';
import Shell from 'gi://Shell';
import St from 'gi://St';
import Clutter from 'gi://Clutter';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import {createBridge} from './bridge.js';

export default class VelutanoraExtension extends Extension {
    enable() {
        this._bridge = createBridge({Gio, GLib, Meta, Shell, St, Clutter, Main, global});
        this._bridge.enable();
    }

    disable() {
        this._bridge.disable();
        this._bridge = null;
    }
}
