#include "tesmoraart.h"

QIcon tesmoraIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48})
        icon.addFile(QStringLiteral(":/tesmora/tesmora%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap panelPicture()
{
    return QPixmap(QStringLiteral(":/tesmora/panel.png"));
}
