#include "formcontrols.h"

#include "clickarea.h"

#include <QPushButton>

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, const TwipsRect &design)
{
    auto *b = named(new QPushButton(caption, parent), name);
    b->setGeometry(toPixels(design));
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

ClickArea *makeArea(QWidget *parent, const char *name, const TwipsRect &design)
{
    auto *a = named(new ClickArea(parent), name);
    a->setGeometry(toPixels(design));
    return a;
}
