// The editor's one window.
#pragma once

#include <QDialog>

class TFrmEditText : public QDialog {
    Q_OBJECT
  public:
    explicit TFrmEditText(QWidget* parent = nullptr);

  private:
    void FormCreate();
};

extern TFrmEditText* FrmEditText;
