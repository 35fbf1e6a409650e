import QtQuick 2.8
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.2
import QtQuick.Window 2.0
import SortFilterProxyModel 1.0

ApplicationWindow {
    id: appWindow
    objectName: "appWindow"
    width: 960
    height: 560
    visible: true
    title: ctrl.getAppTitleName()
    color: "#3E3E3E"
}
