// The filter wheel and the rotator's texts through JScript's late binding.
var passed = 0, failed = 0;
function check(name, ok) {
    if (ok) passed++;
    else { failed++; WScript.Echo("FAIL " + name); }
}

var w = new ActiveXObject("VELQ3.FilterWheel");
w.Connected = true;
check("Connected", w.Connected === true);
w.Position = 4;
check("Position", w.Position === 4);
w.Position = 1;
check("Position back", w.Position === 1);
try {
    w.Position = 77;
    check("slot 77 refused", false);
} catch (e) {
    check("slot 77 refused", (e.number >>> 0) === 0x80070057);
}
w.Connected = false;
check("Disconnected", w.Connected === false);

var r = new ActiveXObject("VELQ3.Rotator");
check("Name", r.Name === "Orn Rotator");
check("DriverVersion", r.DriverVersion === "3.4");
check("CanReverse", r.CanReverse === true);
WScript.Echo(passed + " passed, " + failed + " failed");
