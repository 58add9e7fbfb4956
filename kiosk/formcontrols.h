#pragma once

#include "twips.h"

#include <QObject>
#include <QString>

class ClickArea;
class QPushButton;
class QWidget;

// Every control and timer carries its design name, by which tests of the whole window find it.
template<typename T>
T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// A strip button as the design places it; it takes no keyboard focus, which a kiosk has no use for.
QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, const TwipsRect &design);
ClickArea *makeArea(QWidget *parent, const char *name, const TwipsRect &design);
