// Operator screen of the demo project: the controls are made from the
// panel's object table (shape from the object's UI format, place from its
// instance text "shape,x,y"). Shapes: "slider" (sets the object; "min" and
// "max" in the format give its range) and "label" (shows the live value).
// In design mode controls can be dragged and closed, and data objects
// dropped onto the screen become new controls.
import QtQuick 2.15

Rectangle {
    id: screen
    color: "#eef1f4"

    // The contract with the panel and the ZorUi bridge.
    property bool disallowDesignMode: false
    property bool designMode: false
    signal valueChanged(string dataObjectId, string value)
    signal instanceClosed(string dataObjectId, string instance)
    signal instancePositionChanged(string dataObjectId, string instance, int x, int y)
    signal messageStrOut(string text)

    property var controls: []

    function collectChildControlData() {
        var parts = [];
        for (var i = 0; i < controls.length; ++i) {
            var c = controls[i];
            parts.push(c.dataObjectId + "," + c.shape + "," + Math.round(c.x) + "," + Math.round(c.y));
        }
        return parts.join(";");
    }

    function createControl(instance, dataObjectId, format, name, value) {
        var fields = instance.split(",");
        var shape = fields[0].trim().toLowerCase();
        var component = shape === "slider" ? sliderComponent : labelComponent;
        var c = component.createObject(screen, {
            "dataObjectId": dataObjectId, "shape": shape, "name": name, "value": value,
            "x": parseInt(fields[1]) || 0, "y": parseInt(fields[2]) || 0,
            "minimum": parseFloat(format.min !== undefined ? format.min : 0),
            "maximum": parseFloat(format.max !== undefined ? format.max : 1000) });
        var list = controls;
        list.push(c);
        controls = list;
    }

    function closeControl(c) {
        var list = [];
        for (var i = 0; i < controls.length; ++i)
            if (controls[i] !== c)
                list.push(controls[i]);
        controls = list;
        instanceClosed(c.dataObjectId, c.shape + "," + Math.round(c.x) + "," + Math.round(c.y));
        c.destroy();
    }

    Connections {
        target: ZorUi
        function onDynamicUiCreateRequested(instance, dataObjectId, format, name, value) {
            screen.createControl(instance, dataObjectId, format, name, value);
        }
        function onModelValueChanged(dataObjectId, value) {
            for (var i = 0; i < screen.controls.length; ++i)
                if (screen.controls[i].dataObjectId === dataObjectId)
                    screen.controls[i].showValue(value);
        }
        function onDesignModeToggled(on) { screen.designMode = on; }
        function onMessageStrIn(text) {
            if (text.indexOf(":KM_STATUS:") >= 0)
                statusText.text = "Module status: " + text.split(":").pop();
        }
    }

    Text {
        x: 12; y: 8
        text: "Operator screen \u2013 node 4"
        font.pixelSize: 18; font.bold: true; color: "#243447"
    }
    Text {
        id: statusText
        x: 12; y: 34
        text: "Start the panel to bring the screen to life"
        color: "#56606b"
    }
    Text {
        anchors.bottom: parent.bottom; anchors.left: parent.left; anchors.margins: 8
        visible: screen.designMode
        text: "Design mode: drag controls, close them with \u00d7, drop data objects to add some"
        color: "#a05a00"
    }

    // Common frame of a control: name, dragging and closing in design mode.
    component ControlFrame: Rectangle {
        id: frame
        property string dataObjectId
        property string shape
        property string name
        property string value
        property real minimum: 0
        property real maximum: 1000
        function showValue(v) { value = v; }
        radius: 6
        color: "white"
        border.color: screen.designMode ? "#a05a00" : "#c5ccd4"
        Text { x: 8; y: 4; text: frame.name; color: "#56606b"; font.pixelSize: 12 }
        MouseArea {
            anchors.fill: parent
            enabled: screen.designMode
            drag.target: frame
            onReleased: screen.instancePositionChanged(frame.dataObjectId, frame.shape,
                                                       Math.round(frame.x), Math.round(frame.y))
            z: 10
        }
        Text {
            anchors.right: parent.right; anchors.top: parent.top; anchors.margins: 4
            visible: screen.designMode
            text: "\u00d7"; font.pixelSize: 16; z: 11
            MouseArea { anchors.fill: parent; onClicked: screen.closeControl(frame) }
        }
    }

    Component {
        id: labelComponent
        ControlFrame {
            objectName: "label:" + dataObjectId
            width: 200; height: 64
            Text {
                objectName: "valueText"
                x: 8; y: 24
                text: parent.value === "" ? "\u2013" : parent.value
                font.pixelSize: 24; font.bold: true; color: "#243447"
            }
        }
    }

    Component {
        id: sliderComponent
        ControlFrame {
            id: slider
            objectName: "slider:" + dataObjectId
            width: 280; height: 64
            // Where the handle stands, 0..1; follows read values unless held.
            property real position: 0
            property bool held: false
            function showValue(v) {
                value = v;
                if (!held)
                    position = Math.max(0, Math.min(1, (parseFloat(v) - minimum) / (maximum - minimum)));
            }
            // Sets the object as the operator would by moving the handle.
            function setTo(v) {
                position = Math.max(0, Math.min(1, (v - minimum) / (maximum - minimum)));
                screen.valueChanged(dataObjectId, String(Math.round(v)));
            }
            Component.onCompleted: showValue(value)
            Text {
                anchors.right: parent.right; anchors.rightMargin: 24; y: 4
                text: slider.value; color: "#243447"; font.pixelSize: 12
            }
            Rectangle {
                id: track
                x: 12; y: 38; width: parent.width - 24; height: 6; radius: 3
                color: "#c5ccd4"
                Rectangle { width: slider.position * track.width; height: parent.height; radius: 3; color: "#3b82c4" }
                Rectangle {
                    x: slider.position * track.width - width / 2; y: -7
                    width: 20; height: 20; radius: 10
                    color: handleArea.pressed ? "#245e94" : "#3b82c4"
                }
                MouseArea {
                    id: handleArea
                    enabled: !screen.designMode
                    anchors.fill: parent; anchors.margins: -10
                    function place(mx) {
                        slider.position = Math.max(0, Math.min(1, (mx - 10) / track.width));
                    }
                    onPressed: { slider.held = true; place(mouse.x); }
                    onPositionChanged: place(mouse.x)
                    onReleased: {
                        slider.held = false;
                        slider.setTo(slider.minimum + slider.position * (slider.maximum - slider.minimum));
                    }
                }
            }
        }
    }
}
