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

        Text {
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
            renderType: Text.NativeRendering
            elide: Text.ElideRight
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

        Image {
            id: radioArp
            objectName: "radioArp"
            x: 10
            y: 13
            width: 20
            height: 20
            source: functionBar.scanType === 1
                    ? (brandedLook ? "qrc:/desktop/img/brv_img/Radio.over.png" : "qrc:/desktop/img/Radio.over.png")
                    : "qrc:/desktop/img/Radio.nomal.png"

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    if (functionBar.scanStatus === 0) {
                        functionBar.scanType = 1
                    }
                }
            }
        }

        Text {
            id: labelArp
            objectName: "labelArp"
            anchors.left: radioArp.right
            anchors.leftMargin: 10
            anchors.top: radioArp.top
            anchors.topMargin: 3
            text: "ARP"
            color: lightGray3
            font.pixelSize: 12
            renderType: Text.NativeRendering
            elide: Text.ElideRight
        }

        Image {
            id: radioHttp
            objectName: "radioHttp"
            visible: !brandedLook
            anchors.left: labelArp.right
            anchors.leftMargin: 10
            anchors.top: radioArp.top
            width: 20
            height: 20
            source: functionBar.scanType === 2
                    ? (brandedLook ? "qrc:/desktop/img/brv_img/Radio.over.png" : "qrc:/desktop/img/Radio.over.png")
                    : "qrc:/desktop/img/Radio.nomal.png"

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    if (functionBar.scanStatus === 0) {
                        functionBar.scanType = 2
                    }
                }
            }
        }

        Text {
            id: labelHttp
            objectName: "labelHttp"
            visible: !brandedLook
            anchors.left: radioHttp.right
            anchors.leftMargin: 10
            anchors.top: radioHttp.top
            anchors.topMargin: 3
            text: "Http Download"
            color: lightGray3
            font.pixelSize: 12
            renderType: Text.NativeRendering
            elide: Text.ElideRight
        }

        Image {
            id: radioMdns
            objectName: "radioMdns"
            visible: !brandedLook
            anchors.left: labelHttp.right
            anchors.leftMargin: 10
            anchors.top: radioArp.top
            width: 20
            height: 20
            source: functionBar.scanType === 3
                    ? (brandedLook ? "qrc:/desktop/img/brv_img/Radio.over.png" : "qrc:/desktop/img/Radio.over.png")
                    : "qrc:/desktop/img/Radio.nomal.png"

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    if (functionBar.scanStatus === 0) {
                        functionBar.scanType = 3
                    }
                }
            }
        }

        Text {
            id: labelMdns
            objectName: "labelMdns"
            visible: !brandedLook
            anchors.left: radioMdns.right
            anchors.leftMargin: 10
            anchors.top: radioMdns.top
            anchors.topMargin: 3
            text: "mDNS"
            color: lightGray3
            font.pixelSize: 12
            renderType: Text.NativeRendering
            elide: Text.ElideRight
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

        Text {
            id: labelInterface
            objectName: "labelInterface"
            anchors.left: separator.right
            anchors.leftMargin: 10
            anchors.top: labelArp.top
            text: "Interface:"
            color: lightGray3
            font.pixelSize: 12
            renderType: Text.NativeRendering
            elide: Text.ElideRight
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

        Image {
            id: btnScan
            objectName: "btnScan"
            anchors.left: ipAddressComboBox.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            width: 80
            height: 26
            source: functionBar.scanStatus === 0
                    ? (brandedLook ? "qrc:/desktop/img/brv_img/Scan.over.png" : "qrc:/desktop/img/Scan.over.png")
                    : "qrc:/desktop/img/Scan.nomal.png"

            Text {
                anchors.left: parent.left
                anchors.leftMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignVCenter
                text: "Scan"
                color: "white"
                font.pixelSize: 14
                font.bold: true
                renderType: Text.NativeRendering
                elide: Text.ElideRight
            }

            MouseArea {
                anchors.fill: parent
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
        }

        Image {
            id: btnStop
            objectName: "btnStop"
            anchors.left: btnScan.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            width: 80
            height: 26
            source: functionBar.scanStatus === 1
                    ? (brandedLook ? "qrc:/desktop/img/brv_img/Stop.over.png" : "qrc:/desktop/img/Stop.over.png")
                    : "qrc:/desktop/img/Stop.nomal.png"

            Text {
                anchors.left: parent.left
                anchors.leftMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignVCenter
                text: "Stop"
                color: "white"
                font.pixelSize: 14
                font.bold: true
                renderType: Text.NativeRendering
                elide: Text.ElideRight
            }

            MouseArea {
                anchors.fill: parent
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
        }

        Rectangle {
            id: btnBrowse
            objectName: "btnBrowse"
            visible: brandedLook
            anchors.left: btnStop.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            width: 80
            height: 26
            color: openDeviceURL !== "" ? lightGreen3 : lightGray5

            Text {
                anchors.left: parent.left
                anchors.leftMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignVCenter
                text: "Browse"
                color: "white"
                font.pixelSize: 14
                font.bold: true
                renderType: Text.NativeRendering
                elide: Text.ElideRight
            }

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    Qt.openUrlExternally(openDeviceURL)
                    textInfo.text = "Browse device: " + openDeviceURL.substring(7)
                }
            }
        }

        Rectangle {
            id: btnIdentify
            objectName: "btnIdentify"
            visible: brandedLook
            anchors.left: btnBrowse.right
            anchors.leftMargin: 10
            anchors.verticalCenter: parent.verticalCenter
            width: 80
            height: 26
            color: openDeviceURL !== "" ? lightGreen3 : lightGray5

            Text {
                anchors.left: parent.left
                anchors.leftMargin: 10
                anchors.verticalCenter: parent.verticalCenter
                horizontalAlignment: Text.AlignLeft
                verticalAlignment: Text.AlignVCenter
                text: "Identify"
                color: "white"
                font.pixelSize: 14
                font.bold: true
                renderType: Text.NativeRendering
                elide: Text.ElideRight
            }

            MouseArea {
                anchors.fill: parent
                onClicked: {
                    var ipString = openDeviceURL.substring(7)
                    if (ctrl.indicateDevice(ipString)) {
                        textInfo.text = "Identify device: " + ipString + " successful"
                    } else {
                        textInfo.text = "Identify device: " + ipString + " failed"
                    }
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

            Text {
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
                renderType: Text.NativeRendering
                elide: Text.ElideRight
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

                Text {
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    verticalAlignment: Text.AlignVCenter
                    horizontalAlignment: styleData.textAlignment
                    text: styleData.value
                    color: darkGray
                    font.pixelSize: 14
                    font.bold: true
                    renderType: Text.NativeRendering
                    elide: Text.ElideRight
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

                Text {
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    verticalAlignment: Text.AlignVCenter
                    horizontalAlignment: styleData.textAlignment
                    // Every cell value comes from the network; markup in it must stay text.
                    textFormat: Text.PlainText
                    text: styleData.value !== undefined ? styleData.value : ""
                    color: darkGray
                    font.pixelSize: 14
                    renderType: Text.NativeRendering
                    elide: Text.ElideRight
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
