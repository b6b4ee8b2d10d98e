import QtQuick 2.7
import QtTest 1.2

// The test program's own stand-ins: what the screen tests rely on.
TestCase {
    id: testCase
    name: "Harness"

    SignalSpy {
        id: rowSpy
        target: service
        signalName: "dbPresenceResponse"
    }

    SignalSpy {
        id: calendarSpy
        target: service
        signalName: "dbCalEmpHistResponse"
    }

    SignalSpy {
        id: endSpy
        target: service
        signalName: "dbPresenceResponseEnd"
    }

    function init() {
        service.clearCalls()
        rowSpy.clear()
        calendarSpy.clear()
        endSpy.clear()
    }

    function test_requestsAreRecordedInOrder() {
        service.connectToServiceAsync("tcp://localhost:1/CommService")
        service.dbCalEmpHistRequest("7", 12, 2017)
        service.dbCalEmpHistRequest("8", 1, 2018)
        compare(service.callNames(), ["connectToServiceAsync", "dbCalEmpHistRequest", "dbCalEmpHistRequest"])
        compare(service.callCount("dbCalEmpHistRequest"), 2)
        compare(service.lastArgs("dbCalEmpHistRequest"), ["8", 1, 2018])
        compare(service.lastArgs("dbLoginRequest"), [])
        compare(service.calls[0].args, ["tcp://localhost:1/CommService"])
        service.clearCalls()
        compare(service.calls.length, 0)
    }

    function test_emitSignalConvertsArguments() {
        verify(service.emitSignal("dbCalEmpHistResponse", ["Shift A", "255", new Date(2017, 0, 1), null]))
        compare(calendarSpy.count, 1)
        var args = calendarSpy.signalArguments[0]
        compare(args[0], "Shift A")
        compare(args[1], 255)
        compare(args[2].getTime(), new Date(2017, 0, 1).getTime())
        // null gives an invalid date-time.
        verify(isNaN(args[3].getTime()))
    }

    function test_emitSignalRefusesWhatNoSignalTakes_data() {
        return [
            {tag: "unknown signal", name: "dbNothingResponse", args: []},
            {tag: "a request", name: "dbLoginRequest", args: ["ana", "x"]},
            {tag: "the record's own signal", name: "callsChanged", args: []},
            {tag: "too few arguments", name: "dbCalEmpHistResponse", args: ["Shift A"]},
            {tag: "no number", name: "dbCalEmpHistResponse", args: ["Shift A", "red", null, null]},
        ]
    }

    function test_emitSignalRefusesWhatNoSignalTakes(data) {
        ignoreWarning(new RegExp("^ScriptedService: "))
        verify(!service.emitSignal(data.name, data.args))
        compare(calendarSpy.count, 0)
        compare(service.calls.length, 0)
    }

    function test_presenceAnswerFillsMissingValues() {
        verify(service.emitPresenceAnswer([{idEmp: "7", lastName: "Petrović", presence: "In", actColor: 255},
                                           {idEmp: "8", picture: harness.picture("red", 4)}]))
        compare(rowSpy.count, 2)
        compare(endSpy.count, 1)
        var first = rowSpy.signalArguments[0]
        compare(first[0], "7")
        compare(first[1], "Petrović")
        compare(first[2], "")
        verify(isNaN(first[3].getTime()))
        compare(first[4], false)
        compare(first[8], "In")
        compare(first[9], 255)
        verify(rowSpy.signalArguments[1][7].byteLength > 0)
    }
}
