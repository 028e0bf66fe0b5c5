// GNOME Shell 45 on: the helper asks for a process's windows to be raised,
// which only the Shell itself may do on Wayland.
import Gio from 'gi://Gio';
import Meta from 'gi://Meta';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

const busName = 'com.Ferrowind.FerrowindHelper.Windows';
const objectPath = '/com/Ferrowind/FerrowindHelper/Windows';
const interfaceXml = `<node><interface name="${busName}">
  <method name="ActivateWindowsOfProcess">
    <arg type="u" direction="in" name="pid"/><arg type="u" direction="out" name="activated"/>
  </method>
  <method name="FocusedProcess"><arg type="u" direction="out" name="pid"/></method>
</interface></node>`;

export default class WindowRaising extends Extension {
    enable() {
        this._exported = Gio.DBusExportedObject.wrapJSObject(interfaceXml, this);
        this._exported.export(Gio.DBus.session, objectPath);
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, busName, Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._exported.unexport();
        this._exported = null;
    }

    // Bottom to top, so the window used last ends on top and keeps the focus.
    ActivateWindowsOfProcess(pid) {
        const windows = global.get_window_actors()
            .map(actor => actor.meta_window)
            .filter(window => window.get_pid() === pid && window.get_window_type() === Meta.WindowType.NORMAL);
        for (const window of global.display.sort_windows_by_stacking(windows))
            Main.activateWindow(window);
        return windows.length;
    }

    // What has the focus now (0 for none): how the helper's tests, and a
    // user in doubt, see that a request worked.
    FocusedProcess() {
        const window = global.display.focus_window;
        return window ? window.get_pid() : 0;
    }
}
