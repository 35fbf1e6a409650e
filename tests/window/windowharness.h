#ifndef WINDOWHARNESS_H
#define WINDOWHARNESS_H

#include <QPointF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <memory>

class Controller;
class QObject;
class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;

// Loads the program's real window the way start-up does and drives it with mouse events.
// With no stand-in, the real Controller answers as "ctrl".
class WindowHarness
{
public:
    explicit WindowHarness(QObject *standInController = nullptr);
    ~WindowHarness();

    bool isLoaded() const;
    QQuickWindow *window() const;
    QQmlApplicationEngine *engine() const;
    Controller *controller() const;
    QQuickItem *item(const QString &objectName) const;
    QObject *object(const QString &objectName) const;

    void click(const QString &objectName);
    void clickAt(const QPointF &scenePoint);
    void doubleClickAt(const QPointF &scenePoint);
    void hover(const QString &objectName);

    // Scene points of the table's header cell and of a device row, by the Part's fixed geometry.
    QPointF headerPoint(int column) const;
    QPointF rowPoint(int row) const;

    // Refuses (test failure, no click) when the combo box holds an address of this machine's own
    // interfaces, unless it is the simulated LAN's scanner address: a sweep must never leave the
    // LAN.
    bool clickScan();
    void typeAddress(const QString &text);

    QString status() const;
    int scanStatus() const;
    int scanType() const;
    QString openDeviceURL() const;
    QString imageOf(const QString &objectName) const;
    QString editText() const;
    int tableRowCount() const;
    QStringList column(const char *role) const;

    // URLs the window asked the desktop to open, caught instead of starting a browser.
    QList<QUrl> openedUrls() const;

    static QString lanScannerAddress();

private:
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow *m_window = nullptr;
    Controller *m_controller = nullptr;
    std::unique_ptr<QObject> m_urlCatcher;
};

#endif // WINDOWHARNESS_H
