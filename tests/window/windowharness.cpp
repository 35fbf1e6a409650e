#include "windowharness.h"

#include "controller/controller.h"
#include "models/sortfilterproxymodel.h"

#include <QAbstractItemModel>
#include <QDesktopServices>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace {
const QString kWindowUrl = QStringLiteral("qrc:/desktop/qml/main.qml");

// The table's fixed geometry: 10 px margins, 33 px header and rows, 150 px columns.
constexpr int kCellHeight = 33;
constexpr int kColumnWidth = 150;

QQuickItem *findItem(QQuickItem *root, const QString &objectName)
{
    if (!root) {
        return nullptr;
    }
    if (root->objectName() == objectName) {
        return root;
    }
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, objectName)) {
            return found;
        }
    }
    return nullptr;
}
} // namespace

// QDesktopServices calls a slot by name, so the catcher needs a meta-object of its own.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

WindowHarness::WindowHarness(QObject *standInController)
    : m_engine(new QQmlApplicationEngine), m_urlCatcher(new UrlCatcher)
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), m_urlCatcher.get(), "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), m_urlCatcher.get(), "open");
    // Qt.quit() would end whatever event loop a test happens to be waiting in.
    QObject::disconnect(m_engine.get(), &QQmlEngine::quit, nullptr, nullptr);

    static const int registered = qmlRegisterType<SortFilterProxyModel>("SortFilterProxyModel", 1,
                                                                        0, "SortFilterProxyModel");
    Q_UNUSED(registered)

    if (standInController) {
        m_engine->rootContext()->setContextProperty(QStringLiteral("ctrl"), standInController);
    } else {
        m_controller = new Controller(m_engine->rootContext());
    }
    m_engine->load(QUrl(kWindowUrl));
    if (!m_engine->rootObjects().isEmpty()) {
        m_window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
    }
    if (m_window) {
        if (!QTest::qWaitForWindowExposed(m_window)) {
            qWarning("window not exposed");
        }
    }
}

WindowHarness::~WindowHarness()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    // The order of the program's own shutdown: end the scan, then the engine, which takes the
    // discovery service with its root context.
    if (m_controller) {
        m_controller->shutdown();
    }
    m_engine.reset();
    delete m_controller;
}

bool WindowHarness::isLoaded() const
{
    return m_window != nullptr;
}

QQuickWindow *WindowHarness::window() const
{
    return m_window;
}

QQmlApplicationEngine *WindowHarness::engine() const
{
    return m_engine.get();
}

Controller *WindowHarness::controller() const
{
    return m_controller;
}

QQuickItem *WindowHarness::item(const QString &objectName) const
{
    return m_window ? findItem(m_window->contentItem(), objectName) : nullptr;
}

QObject *WindowHarness::object(const QString &objectName) const
{
    if (QQuickItem *found = item(objectName)) {
        return found;
    }
    return m_window ? m_window->findChild<QObject *>(objectName) : nullptr;
}

void WindowHarness::click(const QString &objectName)
{
    QQuickItem *target = item(objectName);
    QVERIFY2(target, qPrintable(objectName));
    clickAt(target->mapToScene(QPointF(target->width() / 2, target->height() / 2)));
}

void WindowHarness::clickAt(const QPointF &scenePoint)
{
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, scenePoint.toPoint());
    QTest::qWait(20);
}

void WindowHarness::doubleClickAt(const QPointF &scenePoint)
{
    QTest::mouseDClick(m_window, Qt::LeftButton, Qt::NoModifier, scenePoint.toPoint());
    QTest::qWait(20);
}

void WindowHarness::hover(const QString &objectName)
{
    QQuickItem *target = item(objectName);
    QVERIFY2(target, qPrintable(objectName));
    QTest::mouseMove(
        m_window, target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
    QTest::qWait(20);
}

QPointF WindowHarness::headerPoint(int column) const
{
    QQuickItem *table = item(QStringLiteral("tableView"));
    return table->mapToScene(QPointF(column * kColumnWidth + kColumnWidth / 2, kCellHeight / 2));
}

QPointF WindowHarness::rowPoint(int row) const
{
    QQuickItem *table = item(QStringLiteral("tableView"));
    return table->mapToScene(
        QPointF(kColumnWidth / 2, kCellHeight + row * kCellHeight + kCellHeight / 2));
}

QString WindowHarness::lanScannerAddress()
{
    return qEnvironmentVariable("LUMISWEEP_LAN_SCANNER_IP");
}

bool WindowHarness::clickScan()
{
    const QString address = editText();
    const QHostAddress host(address);
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    if (own.contains(host) && address != lanScannerAddress()) {
        QTest::qFail(
            qPrintable(
                QStringLiteral("refusing to sweep from %1: not the simulated LAN").arg(address)),
            __FILE__, __LINE__);
        return false;
    }
    click(QStringLiteral("btnScan"));
    return true;
}

void WindowHarness::typeAddress(const QString &text)
{
    QQuickItem *combo = item(QStringLiteral("ipAddressComboBox"));
    QVERIFY(combo);
    QVERIFY(combo->property("editable").toBool());
    clickAt(combo->mapToScene(QPointF(20, combo->height() / 2)));
    QTest::keyClick(m_window, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(m_window, Qt::Key_Backspace);
    for (const QChar character : text) {
        QTest::keyClick(m_window, character.toLatin1());
    }
    QCOMPARE(editText(), text);
}

QString WindowHarness::status() const
{
    return object(QStringLiteral("textInfo"))->property("text").toString();
}

int WindowHarness::scanStatus() const
{
    return object(QStringLiteral("functionBar"))->property("scanStatus").toInt();
}

int WindowHarness::scanType() const
{
    return object(QStringLiteral("functionBar"))->property("scanType").toInt();
}

QString WindowHarness::openDeviceURL() const
{
    return m_window->property("openDeviceURL").toString();
}

QString WindowHarness::imageOf(const QString &objectName) const
{
    return object(objectName)->property("source").toUrl().toString();
}

QString WindowHarness::editText() const
{
    return object(QStringLiteral("ipAddressComboBox"))->property("editText").toString();
}

int WindowHarness::tableRowCount() const
{
    return object(QStringLiteral("tableView"))->property("rowCount").toInt();
}

QStringList WindowHarness::column(const char *role) const
{
    QStringList values;
    QQuickItem *table = item(QStringLiteral("tableView"));
    auto *model = qobject_cast<QAbstractItemModel *>(table->property("model").value<QObject *>());
    if (!model) {
        return values;
    }
    const int roleNumber = model->roleNames().key(QByteArray(role), -1);
    for (int row = 0; row < model->rowCount(); ++row) {
        values.append(model->data(model->index(row, 0), roleNumber).toString());
    }
    return values;
}

QList<QUrl> WindowHarness::openedUrls() const
{
    return static_cast<UrlCatcher *>(m_urlCatcher.get())->urls;
}

#include "windowharness.moc"
