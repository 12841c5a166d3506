// Answers the message boxes of a test's editor, keeping what they said.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <vector>

namespace zef::test {

// Answers every message box that opens with its default (or only) button, keeping its text.
class BoxAnswerer {
public:
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon;
    };
    BoxAnswerer()
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            seen.push_back({box->windowTitle(), box->text(), box->icon()});
            QAbstractButton* b = box->defaultButton()
                                     ? static_cast<QAbstractButton*>(box->defaultButton())
                                     : box->buttons().value(0);
            const QMessageBox::StandardButton a = answers.value(box->windowTitle(), answer);
            if (a != QMessageBox::NoButton && box->button(a)) b = box->button(a);
            b->click();
        });
        m_timer.start();
    }
    std::vector<Seen> seen;
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    // Answers for the boxes of a given title, before `answer`.
    QMap<QString, QMessageBox::StandardButton> answers;

private:
    QTimer m_timer;
};

} // namespace zef::test
