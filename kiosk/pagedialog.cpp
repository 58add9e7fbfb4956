#include "pagedialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

PageDialog::PageDialog(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("PageDialog { background: rgba(0, 0, 0, 96); }"
                                 "QFrame#box { background: white; border: 1px solid #808080; }"));
    auto *box = new QFrame(this);
    box->setObjectName(QStringLiteral("box"));
    box->setMaximumWidth(640);
    message = new QLabel(box);
    message->setWordWrap(true);
    message->setTextFormat(Qt::PlainText);
    input = new QLineEdit(box);
    ok = new QPushButton(QStringLiteral("OK"), box);
    cancel = new QPushButton(QStringLiteral("Annulla"), box);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *inBox = new QVBoxLayout(box);
    inBox->addWidget(message);
    inBox->addWidget(input);
    inBox->addLayout(buttons);
    auto *centred = new QVBoxLayout(this);
    centred->addStretch();
    centred->addWidget(box, 0, Qt::AlignHCenter);
    centred->addStretch();

    const auto answer = [this](bool accepted) {
        m_accepted = accepted;
        if (m_waiting)
            m_waiting->quit();
    };
    connect(ok, &QPushButton::clicked, this, [answer] { answer(true); });
    connect(input, &QLineEdit::returnPressed, this, [answer] { answer(true); });
    connect(cancel, &QPushButton::clicked, this, [answer] { answer(false); });
    hide();
}

bool PageDialog::ask(Kind kind, const QString &text, QString *value)
{
    if (m_waiting || m_refusing)
        return false;
    message->setText(text);
    input->setVisible(kind == Kind::Prompt);
    input->setText(value ? *value : QString());
    cancel->setVisible(kind != Kind::Alert);
    m_accepted = false;

    const QPointer<QWidget> hadFocus = QApplication::focusWidget();
    show();
    (kind == Kind::Prompt ? static_cast<QWidget *>(input) : ok)->setFocus();
    // The engine wants the answer before this returns, as it would from a modal message box.
    const QPointer<PageDialog> alive(this);
    QEventLoop waiting;
    m_waiting = &waiting;
    waiting.exec();
    if (!alive)
        return false;
    m_waiting = nullptr;
    hide();
    if (hadFocus)
        hadFocus->setFocus();

    if (m_accepted && value)
        *value = input->text();
    return m_accepted;
}

void PageDialog::dismiss()
{
    m_accepted = false;
    if (m_waiting)
        m_waiting->quit();
}
