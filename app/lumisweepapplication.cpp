#include "lumisweepapplication.h"

#include <QDebug>

Lumisweepapplication::Lumisweepapplication(int &argc, char **argv) : QApplication(argc, argv) { }

Lumisweepapplication::~Lumisweepapplication() = default;

bool Lumisweepapplication::event(QEvent *e)
{
    qDebug().noquote() << "Lumisweepapplication::event";
    return QApplication::event(e);
}
