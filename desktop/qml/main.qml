import QtQuick 2.9
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.2
import QtQuick.Window 2.0
import SortFilterProxyModel 1.0

ApplicationWindow {
    id: appWindow
    objectName: "appWindow"

    // The title never changes while the program runs, so the look is decided once.
    readonly property bool brandedLook: ctrl.getAppTitleName().indexOf("Brivella") !== -1

    property string openDeviceURL: ""
    property var dpiScale: ctrl.getDpiScale()

    property color lightGreen1: brandedLook ? "#5f002F87" : "#8bc628"
    property color lightGreen2: brandedLook ? "#002F87" : "#a2b73c"
    property color lightGreen3: brandedLook ? "#002F87" : "#a9c03e"
    property color darkGray: "#2E2E2E"
    property color mediumGary: "#3E3E3E"
    property color lightGray1: "#D4D4D4"
    property color lightGray2: "#E9E9E9"
    property color lightGray3: "#C5C5C5"
    property color lightGray5: "#777779"
    property color newRowColor: "#F6E7A8"

    // The usable face of a button or radio is the "over" image, which the branded look draws in
    // its own colour; the inactive "nomal" face is the same in both looks.
    function faceImage(name, usable) {
        if (!usable) {
            return "qrc:/desktop/img/" + name + ".nomal.png"
        }
        return (brandedLook ? "qrc:/desktop/img/brv_img/" : "qrc:/desktop/img/") + name + ".over.png"
    }

    // The scan's devices, one row per device, kept by the Controller: a device that reports
    // again changes its own row.
    readonly property QtObject deviceModel: ctrl.getDeviceModel()

    function clearDevices() {
        tableView.selection.clear()
        tableView.currentRow = -1
        openDeviceURL = ""
    }

    // "1 address", "2 addresses": a count and its noun.
    function counted(count, singular, plural) {
        return count + " " + (count === 1 ? singular : plural)
    }

    // The info line between scans and during a browse, in sentences: the count, whether the
    // user stopped the scan, and addresses that more than one device answers for. A sweep shows
    // its progress instead until it ends; a watch its figures.
    function showDeviceCount() {
        btnClearDeparted.visible = ctrl.getGoneDeviceCount() > 0
        if (checkStatusTimer.running) {
            return
        }
        if (functionBar.scanStatus === 2) {
            textInfo.text = "Watching " + watchedText() + ": " + watchCounts()
            return
        }
        var shared = ctrl.getConflictCount()
        textInfo.text = "Info: " + proxyModel.count + " Devices Found!"
                + (functionBar.stopped ? " Scan stopped." : "")
                + (shared === 0 ? "" : " " + (shared === 1 ? "1 address is" : shared + " addresses are")
                                       + " used by more than one device!")
    }

    // The end of a sweep that found no device says what was swept and who else answered, so
    // that an empty table is not taken for a broken scan.
    function showSweepEnd() {
        if (functionBar.stopped || proxyModel.count > 0) {
            showDeviceCount()
            return
        }
        var others = ctrl.getOtherHostCount()
        textInfo.text = "Info: No devices in " + ctrl.getSweptSubnet() + "; "
                + counted(others, "other host", "other hosts") + " answered"
    }

    // What a row's marks mean, for the pointer that rests on it.
    function noteHint(device) {
        var hints = []
        if (device.conflict) {
            hints.push("Conflict: another device answers for " + device.ip
                       + "; neither row shows a name or firmware, which could be the other's.")
        }
        if (device.outsideSubnet) {
            hints.push(device.ip + " is outside the swept subnet.")
        }
        if (!device.answered) {
            hints.push("The device did not answer as an encoder: none of its questions got a"
                       + " valid answer.")
        }
        return hints.join("\n")
    }

    // What a watch watches: the swept subnet, or the mDNS announcements.
    function watchedText() {
        return functionBar.scanType === 3 ? "mDNS" : ctrl.getSweptSubnet()
    }

    function watchCounts() {
        return counted(ctrl.getDeviceCount(), "device", "devices") + ", "
                + ctrl.getNewDeviceCount() + " new, " + ctrl.getGoneDeviceCount() + " gone"
    }

    // The address to scan or watch from, once the Controller has accepted it; empty when there
    // is none or it is refused (the Controller has said why).
    function checkedAddress() {
        var ipString = ipAddressComboBox.chosenAddress()
        if (ipString === "" || !ctrl.checkStringIPV4(ipString)
                || !ctrl.isInterfaceAvailable(ipString)) {
            return ""
        }
        return ipString
    }

    // status: 1 for a scan, 2 for a watch. A sweep's progress is shown until it ends.
    function begin(status, text, sweep) {
        functionBar.scanStatus = status
        functionBar.stopped = false
        clearDevices()
        textInfo.text = text
        if (sweep) {
            checkStatusTimer.start()
        }
    }

    function startWatch() {
        if (functionBar.scanStatus !== 0 || functionBar.scanType === 2) {
            return
        }
        var ipString = checkedAddress()
        if (ipString === "") {
            return
        }
        var arp = functionBar.scanType === 1
        begin(2, arp ? "Info: ARP Watching..." : "Info: mDNS Watching...", arp)
        ctrl.startWatch(ipString, functionBar.scanType)
        btnClearDeparted.visible = false
    }

    // A device new during a watch is "new" for its first seconds, one that left is "gone":
    // read from the row's own data, so that the mark stays with the device however it is sorted.
    function rowMark(device) {
        if (device.departed === true) {
            return "gone"
        }
        return watchClock.running && device.isNew === true
                && watchClock.now - device.appearedAt.getTime() < watchClock.newRowMs ? "new" : ""
    }

    // A cell's text; the note of a departed device says when it left, in local time.
    function cellValue(value, role, device) {
        var text = value !== undefined ? value : ""
        if (role !== "note" || device.departed !== true) {
            return text
        }
        return "gone " + Qt.formatTime(device.departedAt, "hh:mm:ss") + (text !== "" ? ", " + text : "")
    }

    function openDevice(ipString) {
        var opened = Qt.openUrlExternally("http://" + ipString)
        textInfo.text = "Browse device: " + ipString + (opened ? "" : " failed: no web browser")
    }

    function identifyDevice(ipString) {
        textInfo.text = "Identify device: " + ipString
                + (ctrl.indicateDevice(ipString) ? " successful" : " failed")
    }

    function copyRow(row) {
        var device = proxyModel.get(row)
        ctrl.copyToClipboard([device.ip, device.mac, device.fw, device.name])
    }

    function saveTable() {
        var message = ctrl.saveDeviceTable()
        if (message !== "") {
            textInfo.text = message
        }
    }

    width: 960
    height: 560
    visible: true
    title: ctrl.getAppTitleName()
    color: mediumGary
    flags: brandedLook ? Qt.Window : Qt.Window | Qt.FramelessWindowHint | Qt.NoDropShadowWindowHint

    onWidthChanged: console.log("appWindow width changed")
    onHeightChanged: console.log("appWindow height changed")

    Component.onCompleted: {
        appWindow.x = (Screen.width - appWindow.width) / 2
        appWindow.y = (Screen.height - appWindow.height) / 2
        if (!brandedLook) {
            // Without a system frame there is nothing to resize with; the layout is fixed anyway.
            appWindow.minimumWidth = appWindow.width
            appWindow.maximumWidth = appWindow.width
            appWindow.minimumHeight = appWindow.height
            appWindow.maximumHeight = appWindow.height
        }
    }

    // Every text of the window renders natively and is cut off at its right edge.
    component WindowText: Text {
        renderType: Text.NativeRendering
        elide: Text.ElideRight
    }

    // A cell of the table, or the info line: on hover, its whole text once it is cut off, and
    // the hint, if any. Only the pointer's resting is taken; clicks go to what lies below.
    component ToolTipArea: MouseArea {
        property Text shownText
        property string hint: ""
        readonly property string tip: [shownText.truncated ? shownText.text : "", hint]
            .filter(function (part) { return part !== "" }).join("\n")

        anchors.fill: parent
        acceptedButtons: Qt.NoButton
        hoverEnabled: true
        onContainsMouseChanged: containsMouse ? toolTip.request(this) : toolTip.release(this)
    }

    // Where the keyboard is: a thin frame around the control that has the focus.
    component FocusFrame: Rectangle {
        anchors.fill: parent
        anchors.margins: -3
        visible: parent.activeFocus
        color: "transparent"
        border.color: "white"
        border.width: 1
        radius: 2
    }

    component BarLabel: WindowText {
        color: lightGray3
        font.pixelSize: 12
    }

    component ButtonCaption: WindowText {
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        horizontalAlignment: Text.AlignLeft
        verticalAlignment: Text.AlignVCenter
        color: "white"
        font.pixelSize: 14
        font.bold: true
    }

    // A scan type's radio: shows whether its type is chosen and chooses it while no scan runs.
    component ScanTypeRadio: Image {
        id: radio

        property int scanType

        function choose() {
            if (functionBar.scanStatus === 0) {
                functionBar.scanType = radio.scanType
            }
        }

        width: 20
        height: 20
        source: faceImage("Radio", functionBar.scanType === radio.scanType)
        activeFocusOnTab: visible
        Keys.onSpacePressed: choose()

        FocusFrame {}

        MouseArea {
            anchors.fill: parent
            onClicked: radio.choose()
        }
    }

    // What the table's context menu offers for the row it was opened on; nothing off the rows.
    component RowMenuItem: MenuItem {
        visible: rowMenu.row >= 0
    }

    // The bar's buttons: an image face (Scan, Stop) or a plain one in the same colours, usable or
    // not; each press reaches the handler, which decides. Tab reaches each shown button, Space
    // and Enter press the one that has the focus.
    component BarButton: Rectangle {
        id: barButton

        property string face: ""
        property bool usable: true
        property alias text: caption.text

        signal clicked()

        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        width: 80
        height: 26
        color: face !== "" ? "transparent" : (usable ? lightGreen3 : lightGray5)
        activeFocusOnTab: visible
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.onPressAction: barButton.clicked()
        Keys.onSpacePressed: barButton.clicked()
        Keys.onReturnPressed: barButton.clicked()
        Keys.onEnterPressed: barButton.clicked()
        // Enter is the window's key for Scan, except on a button that has the focus.
        Keys.onShortcutOverride: event.accepted = event.key === Qt.Key_Return
                                 || event.key === Qt.Key_Enter

        Image {
            anchors.fill: parent
            visible: face !== ""
            source: face !== "" ? faceImage(face, usable) : ""
        }

        FocusFrame {}

        ButtonCaption {
            id: caption
        }

        MouseArea {
            anchors.fill: parent
            onClicked: barButton.clicked()
        }
    }

    ListModel {
        id: ipComboModel
        objectName: "ipComboModel"
    }

    Rectangle {
        id: titleBar
        objectName: "titleBar"
        visible: !brandedLook
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: 40
        color: darkGray

        MouseArea {
            id: dragArea
            objectName: "dragArea"
            anchors.fill: parent
            property point pressPosition: Qt.point(0, 0)

            onPressed: pressPosition = Qt.point(mouse.x, mouse.y)
            onPositionChanged: {
                if (pressed) {
                    appWindow.x += mouse.x - pressPosition.x
                    appWindow.y += mouse.y - pressPosition.y
                }
            }
        }

        Image {
            id: logoImage
            objectName: "logoImage"
            anchors.top: parent.top
            anchors.left: parent.left
            width: 50
            height: 40
            fillMode: Image.PreserveAspectFit
            source: "qrc:/desktop/img/Logo.Magnifier.png"
        }

        WindowText {
            id: titleText
            objectName: "titleText"
            anchors.left: logoImage.right
            anchors.leftMargin: 10
            anchors.top: logoImage.top
            anchors.topMargin: 11
            verticalAlignment: Text.AlignVCenter
            horizontalAlignment: Text.AlignLeft
            text: ctrl.getAppTitleName()
            color: lightGreen2
            font.pixelSize: 16
            font.bold: true
        }

        Row {
            anchors.top: parent.top
            anchors.right: parent.right
            layoutDirection: Qt.RightToLeft
            spacing: 2

            Image {
                id: btnClose
                objectName: "btnClose"
                width: 40
                height: 40
                source: closeArea.containsMouse ? "qrc:/desktop/img/Close.over.png"
                                                : "qrc:/desktop/img/Close.nomal.png"

                MouseArea {
                    id: closeArea
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: Qt.quit()
                }
            }

            // Drawn like the close button's cross: its colour, its line, its bottom edge.
            Rectangle {
                id: btnMinimize
                objectName: "btnMinimize"
                width: 40
                height: 40
                color: darkGray

                Rectangle {
                    x: 14
                    y: 24
                    width: 12
                    height: 3
                    color: "#8bc628"
                }

                MouseArea {
                    anchors.fill: parent
                    onClicked: appWindow.showMinimized()
                }
            }
        }
    }

    Rectangle {
        id: functionBar
        objectName: "functionBar"

        // 0 idle, 1 scanning, 2 watching.
        property int scanStatus: 0
        property int scanType: 1
        // The user ended the last scan; what arrives after the stop keeps saying so.
        property bool stopped: false

        anchors.top: titleBar.visible ? titleBar.bottom : parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        height: 46
        color: "transparent"

        ScanTypeRadio {
            id: radioArp
            objectName: "radioArp"
            x: 10
            y: 13
            scanType: 1
        }

        BarLabel {
            id: labelArp
            objectName: "labelArp"
            anchors.left: radioArp.right
            anchors.leftMargin: 10
            anchors.top: radioArp.top
            anchors.topMargin: 3
            text: "ARP"
        }

        ScanTypeRadio {
            id: radioHttp
            objectName: "radioHttp"
            visible: !brandedLook
            anchors.left: labelArp.right
            anchors.leftMargin: 10
            anchors.top: radioArp.top
            scanType: 2
        }

        BarLabel {
            id: labelHttp
            objectName: "labelHttp"
            visible: !brandedLook
            anchors.left: radioHttp.right
            anchors.leftMargin: 10
            anchors.top: radioHttp.top
            anchors.topMargin: 3
            text: "Http Download"
        }

        ScanTypeRadio {
            id: radioMdns
            objectName: "radioMdns"
            visible: !brandedLook
            anchors.left: labelHttp.right
            anchors.leftMargin: 10
            anchors.top: radioArp.top
            scanType: 3
        }

        BarLabel {
            id: labelMdns
            objectName: "labelMdns"
            visible: !brandedLook
            anchors.left: radioMdns.right
            anchors.leftMargin: 10
            anchors.top: radioMdns.top
            anchors.topMargin: 3
            text: "mDNS"
        }

        Rectangle {
            id: separator
            objectName: "separator"
            anchors.left: brandedLook ? labelArp.right : labelMdns.right
            anchors.leftMargin: 10
            anchors.top: parent.top
            anchors.topMargin: 3
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 3
            width: 2
            color: darkGray
        }

        BarLabel {
            id: labelInterface
            objectName: "labelInterface"
            anchors.left: separator.right
            anchors.leftMargin: 10
            anchors.top: labelArp.top
            text: "Interface:"
        }

        ComboBox {
            id: ipAddressComboBox
            objectName: "ipAddressComboBox"
            anchors.left: labelInterface.right
            anchors.leftMargin: 10
            anchors.top: parent.top
            anchors.topMargin: 12
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 12
            width: 150
            editable: functionBar.scanType === 2
            model: ipComboModel
            textRole: "text"

            // Entries read "address (interface)": an entry of the list stands for its address.
            // Anything else was typed (Http Download) and is checked exactly as typed.
            function chosenAddress() {
                for (var i = 0; i < ipComboModel.count; ++i) {
                    if (ipComboModel.get(i).text === editText) {
                        return ipComboModel.get(i).address
                    }
                }
                return editText
            }

            onCurrentIndexChanged: console.log("Current index: " + currentIndex)
            // The text field keeps what was typed for Http Download; ARP and mDNS must scan from
            // the entry the box shows, not from a hidden typed address.
            onEditableChanged: {
                if (!editable) {
                    editText = currentText
                }
            }
            // A usable choice answers the complaint about the last one.
            onActivated: {
                if (textInfo.text === "The interface is not available!"
                        && ctrl.isInterfaceAvailable(ipComboModel.get(index).address)) {
                    textInfo.text = "Info: "
                }
            }

            Component.onCompleted: {
                var networks = ctrl.getNetworkList()
                for (var i = 0; i < networks.length; ++i) {
                    var name = ctrl.getInterfaceName(networks[i])
                    ipComboModel.append({ "text": networks[i] + (name !== "" ? " (" + name + ")" : ""),
                                          "address": networks[i] })
                }
            }
        }

        BarButton {
            id: btnScan
            objectName: "btnScan"
            anchors.left: ipAddressComboBox.right
            face: "Scan"
            usable: functionBar.scanStatus === 0
            text: "Scan"

            onClicked: {
                if (functionBar.scanStatus !== 0) {
                    return
                }
                var ipString = checkedAddress()
                if (ipString === "") {
                    return
                }
                var type = functionBar.scanType
                var started = { 1: "Info: ARP Scanning...", 2: "Info: Http Downloading...",
                                3: "Info: mDNS Scanning..." }
                // A browse has no progress to show.
                begin(1, started[type], type !== 3)
                ctrl.startDiscover(ipString, type)
            }
        }

        // Stops a scan or a watch.
        BarButton {
            id: btnStop
            objectName: "btnStop"
            anchors.left: btnScan.right
            face: "Stop"
            usable: functionBar.scanStatus !== 0
            text: "Stop"

            onClicked: {
                if (functionBar.scanStatus === 2) {
                    ctrl.stopWatch()
                    return
                }
                if (functionBar.scanStatus === 0) {
                    return
                }
                functionBar.scanStatus = 0
                functionBar.stopped = true
                checkStatusTimer.stop()
                showDeviceCount()
                // A sweep ends inside this call: its last rows and arpScanDone arrive before it returns.
                ctrl.stopDiscover(functionBar.scanType)
                // Announced devices that gave no address have no row: say how many there were.
                var unresolved = functionBar.scanType === 3 ? ctrl.getUnresolvedCount() : 0
                if (unresolved > 0) {
                    textInfo.text += " " + counted(unresolved, "announced device", "announced devices")
                            + " gave no address."
                }
            }
        }

        // Keeps the table live; Http Download has none, its probe sweep is too heavy to repeat.
        BarButton {
            id: btnWatch
            objectName: "btnWatch"
            anchors.left: btnStop.right
            usable: functionBar.scanStatus === 2
                    || (functionBar.scanStatus === 0 && functionBar.scanType !== 2)
            // As short as Scan and Stop: the info line beside it needs the width.
            text: functionBar.scanStatus === 2 ? "Unwatch" : "Watch"

            onClicked: functionBar.scanStatus === 2 ? ctrl.stopWatch() : startWatch()
        }

        // Browse and Identify act on the device chosen in the table; only the branded look has
        // them.
        BarButton {
            id: btnBrowse
            objectName: "btnBrowse"
            visible: brandedLook
            usable: openDeviceURL !== ""
            anchors.left: btnWatch.right
            text: "Browse"

            onClicked: openDevice(openDeviceURL.substring(7))
        }

        BarButton {
            id: btnIdentify
            objectName: "btnIdentify"
            visible: brandedLook
            usable: openDeviceURL !== ""
            anchors.left: btnBrowse.right
            text: "Identify"

            onClicked: identifyDevice(openDeviceURL.substring(7))
        }

        Rectangle {
            id: textStatus
            objectName: "textStatus"
            anchors.left: brandedLook ? btnIdentify.right : btnWatch.right
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: 36
            color: "black"

            WindowText {
                id: textInfo
                objectName: "textInfo"
                anchors.fill: parent
                anchors.leftMargin: 10
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignVCenter
                // Messages may carry device names: never let them render as markup.
                textFormat: Text.PlainText
                // A long message takes more lines in a smaller font rather than losing its end;
                // the tooltip shows what still does not fit.
                wrapMode: Text.WordWrap
                maximumLineCount: 3
                fontSizeMode: Text.Fit
                minimumPixelSize: 9
                text: "Info: "
                color: "white"
                font.pixelSize: 12
                font.bold: true
            }

            ToolTipArea {
                shownText: textInfo
            }
        }
    }

    Timer {
        id: checkStatusTimer
        objectName: "checkStatusTimer"

        property int ticketCount: 0

        interval: 1000
        repeat: true
        running: false

        onRunningChanged: ticketCount = 0
        onTriggered: {
            console.log("Timer Run!" + ctrl.getArpProgress())
            ticketCount += 1
            textInfo.text = "Info: " + "Scanning " + ticketCount + " Sec .... " + ctrl.getArpProgress() + "%"
        }
    }

    Connections {
        id: ctrlConnector
        target: ctrl

        // Handler functions take the signals' parameter names, which the Controller declares.
        // The row itself is the Controller's model's by now.
        function onDeviceFound(ipString, macString, fwString, nameString) {
            showDeviceCount()
        }
        function onDeviceRemoved(ipString, macString) {
            showDeviceCount()
        }
        // A watch's sweeps end too; it goes on.
        function onArpScanDone() {
            checkStatusTimer.stop()
            if (functionBar.scanStatus === 2) {
                showDeviceCount()
                return
            }
            functionBar.scanStatus = 0
            showSweepEnd()
        }
        // The user may be elsewhere when a new device comes.
        function onWatchEvent(eventString, ipString, macString, fwString, nameString, noteString) {
            if (eventString === "appeared" && !appWindow.active) {
                ctrl.notifyAppeared(ipString, nameString)
            }
            showDeviceCount()
        }
        // message: why, when the user did not end it.
        function onWatchEnded(reason, message) {
            functionBar.scanStatus = 0
            checkStatusTimer.stop()
            textInfo.text = "Watch ended: " + (message !== "" ? message : watchCounts())
        }
        function onInfoMessage(message) {
            textInfo.text = message
        }
        // The Controller has said why (a message box, or the info line): the window is idle.
        function onScanFailed(reason) {
            if (functionBar.scanStatus === 1) {
                textInfo.text = "Info: Scan failed"
            }
            functionBar.scanStatus = 0
            checkStatusTimer.stop()
        }
    }

    // What a watch's new rows are measured against: a few seconds after their arrival they
    // look like the others.
    Timer {
        id: watchClock

        readonly property int newRowMs: 5000
        property double now: 0

        interval: 500
        repeat: true
        triggeredOnStart: true
        running: functionBar.scanStatus === 2
        onTriggered: now = Date.now()
    }

    // Departed rows stay until the user drops them here.
    BarButton {
        id: btnClearDeparted
        objectName: "btnClearDeparted"
        visible: false
        anchors.verticalCenter: undefined
        anchors.right: parent.right
        anchors.rightMargin: 10
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 9
        width: 140
        text: "Clear departed"

        onClicked: {
            // The button goes with the rows; the keyboard stays with the table.
            tableView.forceActiveFocus()
            ctrl.clearDeparted()
            showDeviceCount()
        }
    }

    // Keys that work wherever the focus is, except Enter on a chosen row: the table opens it.
    Shortcut {
        sequences: ["Return", "Enter"]
        enabled: !(tableView.activeFocus && tableView.currentRow >= 0)
        onActivated: btnScan.clicked()
    }
    Shortcut {
        sequence: "Escape"
        onActivated: btnStop.clicked()
    }
    Shortcut {
        sequence: "Ctrl+Q"
        onActivated: Qt.quit()
    }
    Shortcut {
        sequences: [StandardKey.Copy]
        enabled: tableView.currentRow >= 0
        onActivated: copyRow(tableView.currentRow)
    }
    Shortcut {
        sequences: [StandardKey.Save]
        onActivated: saveTable()
    }

    TableView {
        id: tableView
        objectName: "tableView"

        property int cellHeight: 33

        anchors.top: functionBar.bottom
        anchors.bottom: btnClearDeparted.visible ? btnClearDeparted.top : parent.bottom
        anchors.bottomMargin: btnClearDeparted.visible ? 9 : 10
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.right: parent.right
        anchors.rightMargin: 10
        sortIndicatorVisible: true
        // TableView keeps the order of the column sorted before; a new column starts ascending.
        onSortIndicatorColumnChanged: sortIndicatorOrder = Qt.AscendingOrder

        model: SortFilterProxyModel {
            id: proxyModel
            objectName: "proxyModel"
            source: deviceModel
            sortOrder: tableView.sortIndicatorOrder
            sortCaseSensitivity: Qt.CaseInsensitive
            // Looked up by name once the source has rows, as the first row arrives.
            sortRole: count > 0 ? tableView.getColumn(tableView.sortIndicatorColumn).role : ""
            filterSyntax: SortFilterProxyModel.Wildcard
            filterCaseSensitivity: Qt.CaseInsensitive
        }

        TableViewColumn {
            id: ipColumn
            role: "ip"
            title: "IP Address"
            width: 150
        }
        TableViewColumn {
            id: macColumn
            role: "mac"
            title: "Mac Address"
            width: 150
        }
        TableViewColumn {
            id: fwColumn
            role: "fw"
            title: "FW Version"
            width: 150
        }
        // Names are the longest values: this column takes the width the others leave.
        TableViewColumn {
            role: "name"
            title: "Device Name"
            width: Math.max(150, tableView.viewport.width - ipColumn.width - macColumn.width
                            - fwColumn.width - noteColumn.width)
        }
        TableViewColumn {
            id: noteColumn
            role: "note"
            title: "Note"
            width: 150
        }

        onClicked: openDeviceURL = "http://" + proxyModel.get(row).ip
        onCurrentRowChanged: openDeviceURL = currentRow >= 0 ? "http://" + proxyModel.get(currentRow).ip : ""
        // Double-click and Enter on a row.
        onActivated: openDevice(proxyModel.get(row).ip)
        Keys.onEnterPressed: {
            if (currentRow >= 0) {
                openDevice(proxyModel.get(currentRow).ip)
            }
        }

        // Right-click chooses the row under the pointer and offers what can be done with it.
        MouseArea {
            anchors.fill: parent
            acceptedButtons: Qt.RightButton
            onClicked: {
                var row = tableView.rowAt(mouse.x, mouse.y)
                if (row >= 0) {
                    tableView.forceActiveFocus()
                    tableView.currentRow = row
                    tableView.selection.clear()
                    tableView.selection.select(row)
                }
                rowMenu.row = row
                rowMenu.popup()
            }
        }

        Menu {
            id: rowMenu
            objectName: "rowMenu"

            property int row: -1

            style: MenuStyle {
                frame: Rectangle {
                    color: lightGray2
                    border.color: lightGray5
                }
                itemDelegate.background: Rectangle {
                    color: styleData.selected && styleData.enabled ? lightGreen1 : "transparent"
                }
                itemDelegate.label: WindowText {
                    text: styleData.text
                    color: styleData.enabled ? darkGray : lightGray5
                    font.pixelSize: 13
                }
            }

            RowMenuItem {
                text: "Open web page"
                onTriggered: openDevice(proxyModel.get(rowMenu.row).ip)
            }
            RowMenuItem {
                text: "Identify"
                onTriggered: identifyDevice(proxyModel.get(rowMenu.row).ip)
            }
            RowMenuItem {
                text: "Copy address"
                onTriggered: ctrl.copyToClipboard([proxyModel.get(rowMenu.row).ip])
            }
            RowMenuItem {
                text: "Copy row"
                onTriggered: copyRow(rowMenu.row)
            }
            MenuSeparator {
                visible: rowMenu.row >= 0
            }
            MenuItem {
                text: "Save as CSV…"
                onTriggered: saveTable()
            }
        }

        style: TableViewStyle {
            headerDelegate: Rectangle {
                readonly property bool sorted: styleData.column >= 0
                                               && styleData.column === tableView.sortIndicatorColumn

                height: tableView.cellHeight
                color: lightGray1

                // The sorted column's direction: a triangle pointing up for ascending.
                Canvas {
                    id: sortArrow
                    objectName: "sortArrow"

                    readonly property bool ascending: tableView.sortIndicatorOrder === Qt.AscendingOrder

                    visible: parent.sorted
                    anchors.right: parent.right
                    anchors.rightMargin: 12
                    anchors.verticalCenter: parent.verticalCenter
                    width: 10
                    height: 6
                    onAscendingChanged: requestPaint()
                    onPaint: {
                        var context = getContext("2d")
                        context.reset()
                        context.fillStyle = darkGray
                        context.beginPath()
                        context.moveTo(0, ascending ? height : 0)
                        context.lineTo(width, ascending ? height : 0)
                        context.lineTo(width / 2, ascending ? 0 : height)
                        context.closePath()
                        context.fill()
                    }
                }

                WindowText {
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    anchors.rightMargin: parent.sorted ? 28 : 0
                    verticalAlignment: Text.AlignVCenter
                    horizontalAlignment: styleData.textAlignment
                    text: styleData.value
                    color: darkGray
                    font.pixelSize: 14
                    font.bold: true
                }

                Rectangle {
                    anchors.right: parent.right
                    anchors.top: parent.top
                    anchors.topMargin: 1
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 1
                    width: 1
                    color: mediumGary
                }
            }

            // Each cell reads its row's marks from the row's own data, so they stay with the
            // device when the rows are sorted, updated or removed.
            itemDelegate: Rectangle {
                readonly property bool holdsDevice: model !== null && model !== undefined
                                                    && styleData.row >= 0
                // A conflict, or an address outside the swept subnet: marked before the address.
                readonly property bool addressMarked: holdsDevice && styleData.column === 0
                                                      && (model.conflict === true
                                                          || model.outsideSubnet === true)
                // Asked as an encoder, it never answered as one: the whole row is muted.
                readonly property bool muted: holdsDevice && model.answered === false
                readonly property string mark: holdsDevice ? rowMark(model) : ""

                color: "transparent"

                ToolTipArea {
                    shownText: cellText
                    hint: parent.addressMarked || parent.muted ? noteHint(model) : ""
                }

                Rectangle {
                    id: addressMark
                    objectName: "addressMark"
                    visible: parent.addressMarked
                    x: 8
                    anchors.verticalCenter: parent.verticalCenter
                    width: 14
                    height: 14
                    radius: 7
                    color: "#B22222"

                    WindowText {
                        anchors.centerIn: parent
                        text: "!"
                        color: "white"
                        font.pixelSize: 11
                        font.bold: true
                    }
                }

                WindowText {
                    id: cellText
                    objectName: "cellText"
                    anchors.fill: parent
                    anchors.leftMargin: parent.addressMarked ? 28 : 12
                    verticalAlignment: Text.AlignVCenter
                    horizontalAlignment: styleData.textAlignment
                    // Every cell value comes from the network; markup in it must stay text.
                    textFormat: Text.PlainText
                    text: parent.holdsDevice ? cellValue(styleData.value, styleData.role, model) : ""
                    color: parent.addressMarked ? "#B22222"
                                                : (parent.muted || parent.mark === "gone" ? lightGray5
                                                                                         : darkGray)
                    font.pixelSize: 14
                    font.italic: parent.muted
                }
            }

            rowDelegate: Rectangle {
                // Filler rows below the last device have no row number.
                readonly property bool holdsDevice: styleData.row !== undefined && styleData.row >= 0
                                                    && model !== null && model !== undefined
                readonly property string mark: holdsDevice ? rowMark(model) : ""

                height: tableView.cellHeight
                border.width: holdsDevice ? 1 : 0
                border.color: lightGray3
                color: styleData.selected && holdsDevice && openDeviceURL !== "" ? lightGreen1
                        : mark === "new" ? newRowColor : mark === "gone" ? lightGray1 : lightGray2
            }
        }
    }

    // The one tooltip: the whole text of a cell or the info line that is cut off, shown once
    // the pointer has rested on it, below it (above it at the window's bottom edge).
    Rectangle {
        id: toolTip
        objectName: "toolTip"

        property Item pending: null
        property Item owner: null

        function request(area) {
            pending = area
            owner = null
            toolTipDelay.restart()
        }
        function release(area) {
            if (pending === area) {
                pending = null
                owner = null
                toolTipDelay.stop()
            }
        }

        visible: owner !== null
        z: 10
        width: Math.min(toolTipText.implicitWidth, appWindow.width - 20) + 12
        height: toolTipText.height + 8
        color: darkGray
        border.color: lightGray5

        WindowText {
            id: toolTipText
            objectName: "toolTipText"
            x: 6
            y: 4
            width: parent.width - 12
            wrapMode: Text.Wrap
            textFormat: Text.PlainText
            text: toolTip.owner ? toolTip.owner.tip : ""
            color: "white"
            font.pixelSize: 13
        }

        Timer {
            id: toolTipDelay
            interval: 700
            onTriggered: {
                var area = toolTip.pending
                if (!area || area.tip === "") {
                    return
                }
                toolTip.owner = area
                var shown = area.shownText
                var below = shown.mapToItem(toolTip.parent, 0, shown.height)
                toolTip.x = Math.max(4, Math.min(below.x, appWindow.width - toolTip.width - 4))
                toolTip.y = below.y + toolTip.height + 4 <= appWindow.height
                        ? below.y + 2 : below.y - shown.height - toolTip.height - 2
            }
        }
    }
}
