import QtQuick 2.8
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

    // The usable face of a button or radio is the "over" image, which the branded look draws in
    // its own colour; the inactive "nomal" face is the same in both looks.
    function faceImage(name, usable) {
        if (!usable) {
            return "qrc:/desktop/img/" + name + ".nomal.png"
        }
        return (brandedLook ? "qrc:/desktop/img/brv_img/" : "qrc:/desktop/img/") + name + ".over.png"
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

        width: 20
        height: 20
        source: faceImage("Radio", functionBar.scanType === radio.scanType)

        MouseArea {
            anchors.fill: parent
            onClicked: {
                if (functionBar.scanStatus === 0) {
                    functionBar.scanType = radio.scanType
                }
            }
        }
    }

    // Scan and Stop: image faces, one usable while the other is not.
    component ImageButton: Image {
        id: imageButton

        property string face
        property bool usable
        property alias text: caption.text

        signal clicked()

        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        width: 80
        height: 26
        source: faceImage(face, usable)

        ButtonCaption {
            id: caption
        }

        MouseArea {
            anchors.fill: parent
            onClicked: imageButton.clicked()
        }
    }

    // Browse and Identify act on the device chosen in the table; only the branded look has them.
    component DeviceButton: Rectangle {
        id: deviceButton

        property alias text: caption.text

        signal clicked()

        visible: brandedLook
        anchors.leftMargin: 10
        anchors.verticalCenter: parent.verticalCenter
        width: 80
        height: 26
        color: openDeviceURL !== "" ? lightGreen3 : lightGray5

        ButtonCaption {
            id: caption
        }

        MouseArea {
            anchors.fill: parent
            onClicked: deviceButton.clicked()
        }
    }

    ListModel {
        id: deviceModel
        objectName: "deviceModel"
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
        }
    }

    Rectangle {
        id: functionBar
        objectName: "functionBar"

        property int scanStatus: 0
        property int scanType: 1

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
            width: 120
            editable: functionBar.scanType === 2
            model: ipComboModel

            onCurrentIndexChanged: console.log("Current index: " + currentIndex)
            // The text field keeps what was typed for Http Download; ARP and mDNS must scan from
            // the entry the box shows, not from a hidden typed address.
            onEditableChanged: {
                if (!editable) {
                    editText = currentText
                }
            }

            Component.onCompleted: {
                var networks = ctrl.getNetworkList()
                for (var i = 0; i < networks.length; ++i) {
                    ipComboModel.append({ "text": networks[i] })
                }
            }
        }

        ImageButton {
            id: btnScan
            objectName: "btnScan"
            anchors.left: ipAddressComboBox.right
            face: "Scan"
            usable: functionBar.scanStatus === 0
            text: "Scan"

            onClicked: {
                var ipString = ipAddressComboBox.editText
                if (ipString === "" || functionBar.scanStatus === 1) {
                    return
                }
                if (!ctrl.checkStringIPV4(ipString)) {
                    return
                }
                if (!ctrl.isInterfaceAvailable(ipString)) {
                    return
                }
                functionBar.scanStatus = 1
                deviceModel.clear()
                openDeviceURL = ""
                if (functionBar.scanType === 3) {
                    textInfo.text = "Info: mDNS Scanning..."
                    ctrl.startDiscover(ipString, 3)
                    return
                }
                textInfo.text = functionBar.scanType === 2 ? "Info: Http Downloading..."
                                                           : "Info: ARP Scanning..."
                checkStatusTimer.start()
                ctrl.startDiscover(ipString, functionBar.scanType)
            }
        }

        ImageButton {
            id: btnStop
            objectName: "btnStop"
            anchors.left: btnScan.right
            face: "Stop"
            usable: functionBar.scanStatus === 1
            text: "Stop"

            onClicked: {
                if (functionBar.scanStatus === 0) {
                    return
                }
                functionBar.scanStatus = 0
                checkStatusTimer.stop()
                ctrlConnector.showDeviceFoundInfo()
                // A sweep ends inside this call: its last rows and arpScanDone arrive before it returns.
                ctrl.stopDiscover(functionBar.scanType)
            }
        }

        DeviceButton {
            id: btnBrowse
            objectName: "btnBrowse"
            anchors.left: btnStop.right
            text: "Browse"

            onClicked: {
                Qt.openUrlExternally(openDeviceURL)
                textInfo.text = "Browse device: " + openDeviceURL.substring(7)
            }
        }

        DeviceButton {
            id: btnIdentify
            objectName: "btnIdentify"
            anchors.left: btnBrowse.right
            text: "Identify"

            onClicked: {
                var ipString = openDeviceURL.substring(7)
                if (ctrl.indicateDevice(ipString)) {
                    textInfo.text = "Identify device: " + ipString + " successful"
                } else {
                    textInfo.text = "Identify device: " + ipString + " failed"
                }
            }
        }

        Rectangle {
            id: textStatus
            objectName: "textStatus"
            anchors.left: brandedLook ? btnIdentify.right : btnStop.right
            anchors.leftMargin: 10
            anchors.right: parent.right
            anchors.rightMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            height: 26
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
                text: "Info: "
                color: "white"
                font.pixelSize: 12
                font.bold: true
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

        function showDeviceFoundInfo() {
            textInfo.text = "Info: " + deviceModel.count + " Devices Found!"
        }

        // Handler functions take the signals' parameter names, which the Controller declares.
        function onDeviceFound(ipString, macString, fwString, nameString) {
            deviceModel.append({ "ip": ipString, "mac": macString, "fw": fwString, "name": nameString })
            showDeviceFoundInfo()
        }
        function onArpScanDone() {
            functionBar.scanStatus = 0
            checkStatusTimer.stop()
            showDeviceFoundInfo()
        }
        function onInfoMessage(message) {
            textInfo.text = message
        }
    }

    TableView {
        id: tableView
        objectName: "tableView"

        property int cellHeight: 33

        anchors.top: functionBar.bottom
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 10
        anchors.left: parent.left
        anchors.leftMargin: 10
        anchors.right: parent.right
        anchors.rightMargin: 10
        sortIndicatorVisible: true

        model: SortFilterProxyModel {
            id: proxyModel
            objectName: "proxyModel"
            source: deviceModel.count > 0 ? deviceModel : null
            sortOrder: tableView.sortIndicatorOrder
            sortCaseSensitivity: Qt.CaseInsensitive
            sortRole: deviceModel.count > 0 ? tableView.getColumn(tableView.sortIndicatorColumn).role : ""
            filterSyntax: SortFilterProxyModel.Wildcard
            filterCaseSensitivity: Qt.CaseInsensitive
        }

        TableViewColumn {
            role: "ip"
            title: "IP Address"
            width: 150
        }
        TableViewColumn {
            role: "mac"
            title: "Mac Address"
            width: 150
        }
        TableViewColumn {
            role: "fw"
            title: "FW Version"
            width: 150
        }
        TableViewColumn {
            role: "name"
            title: "Device Name"
            width: 150
        }

        onClicked: openDeviceURL = "http://" + proxyModel.get(row).ip
        onDoubleClicked: Qt.openUrlExternally("http://" + proxyModel.get(row).ip)

        style: TableViewStyle {
            headerDelegate: Rectangle {
                height: tableView.cellHeight
                color: lightGray1

                WindowText {
                    anchors.fill: parent
                    anchors.leftMargin: 12
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

            itemDelegate: Rectangle {
                color: "transparent"

                WindowText {
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    verticalAlignment: Text.AlignVCenter
                    horizontalAlignment: styleData.textAlignment
                    // Every cell value comes from the network; markup in it must stay text.
                    textFormat: Text.PlainText
                    text: styleData.value !== undefined ? styleData.value : ""
                    color: darkGray
                    font.pixelSize: 14
                }
            }

            rowDelegate: Rectangle {
                // Filler rows below the last device have no row number.
                readonly property bool holdsDevice: styleData.row !== undefined && styleData.row >= 0

                height: tableView.cellHeight
                border.width: holdsDevice ? 1 : 0
                border.color: lightGray3
                color: styleData.selected && holdsDevice && openDeviceURL !== "" ? lightGreen1 : lightGray2
            }
        }
    }
}
