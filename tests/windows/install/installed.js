// A script client of the installed server: the driver texts, and the simulator on COM1 reached
// through the wheel and the focuser. Failures are caught and printed: Wine's cscript would hide them.
var passed = 0, failed = 0;
function check(name, ok) {
    if (ok) passed++;
    else { failed++; WScript.Echo("FAIL " + name); }
}
function hex(n) { return "0x" + (n >>> 0).toString(16).toUpperCase(); }

try {
    var r = new ActiveXObject("VELQ3.Rotator");
    check("Rotator DriverVersion", r.DriverVersion === "3.4");
    r = null;

    var w = new ActiveXObject("VELQ3.FilterWheel");
    w.Connected = true;
    check("wheel Connected", w.Connected === true);
    w.Position = 5;
    check("wheel Position", w.Position === 5);
    w.Connected = false;
    check("wheel disconnected", w.Connected === false);
    w = null;

    var f = new ActiveXObject("VELQ3.Focuser");
    f.Link = true;
    f.Move(1700);
    check("focuser Position after Move", f.Position === 1700);
    f.Link = false;
    check("focuser Link off", f.Link === false);
    f = null;
} catch (e) {
    check("error " + hex(e.number) + " " + e.description, false);
}
WScript.Echo(passed + " passed, " + failed + " failed");
