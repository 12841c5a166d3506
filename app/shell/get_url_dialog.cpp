#include "app/shell/get_url_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace zef::app {

DGetURL::DGetURL(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DGetURL"));
    setWindowTitle(QStringLiteral("Add Clip from Location"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Location of the media file:"), this));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("location"));
    m_edit->setMinimumWidth(360);
    layout->addWidget(m_edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString DGetURL::location() const { return m_edit->text(); }

std::optional<std::string> DGetURL::pathOf(const QString& typed)
{
    QString text = typed.trimmed();
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2).trimmed();
    if (text.isEmpty()) return std::nullopt;
    const QUrl url(text);
    if (url.isLocalFile()) return url.toLocalFile().toStdString();
    return text.toStdString();
}

std::optional<std::string> DGetURL::ask(QWidget* parent)
{
    DGetURL dialog(parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return pathOf(dialog.location());
}

} // namespace zef::app
