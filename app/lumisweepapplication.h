#ifndef LUMISWEEPAPPLICATION_H
#define LUMISWEEPAPPLICATION_H

#include <QApplication>

class Lumisweepapplication : public QApplication
{
    Q_OBJECT
public:
    Lumisweepapplication(int &argc, char **argv);
    ~Lumisweepapplication() override;

protected:
    bool event(QEvent *e) override;
};

#endif // LUMISWEEPAPPLICATION_H
