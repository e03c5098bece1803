#include "uTagEdit.h"

#include <QGuiApplication>
#include <QScreen>

TFrmEditText* FrmEditText = nullptr;

TFrmEditText::TFrmEditText(QWidget* parent) : QDialog(parent) {
    setObjectName("FrmEditText");
    setWindowTitle(QString::fromUtf8(" MP3[ID3v2]通用标签编辑器"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(760, 562);
    FormCreate();
    // Without a window manager the window would open at 0,0.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFrmEditText::FormCreate() {}
