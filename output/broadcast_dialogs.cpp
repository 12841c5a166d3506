#include "output/broadcast_dialogs.h"

#include "platform/movies/export/broadcast_exporter.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

namespace zef::output {

namespace {

QLineEdit* textField(QWidget* parent, const char* name, const std::string& text)
{
    auto* edit = new QLineEdit(QString::fromStdString(text), parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setMaxLength(int(movies::kBroadcastTextMax));
    edit->setMinimumWidth(280);
    return edit;
}

void addButtons(QDialog* dialog, QBoxLayout* layout)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(buttons);
}

} // namespace

CBroadcastSettingsDialog::CBroadcastSettingsDialog(const std::string& url, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Broadcast Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_url = textField(this, "url", url);
    form->addRow(QStringLiteral("File URL:"), m_url);
    layout->addLayout(form);
    addButtons(this, layout);
}

std::string CBroadcastSettingsDialog::url() const { return m_url->text().toStdString(); }

CServerSettingsDialog::CServerSettingsDialog(const ServerSettings& s, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Server Settings"));
    auto* layout = new QVBoxLayout(this);
    auto* server = new QGroupBox(QStringLiteral("Server settings"), this);
    auto* serverForm = new QFormLayout(server);
    m_port = textField(this, "port", s.port);
    m_server = textField(this, "server", s.server);
    serverForm->addRow(QStringLiteral("Port:"), m_port);
    serverForm->addRow(QStringLiteral("Server:"), m_server);
    layout->addWidget(server);
    auto* authoring = new QGroupBox(QStringLiteral("Authoring data"), this);
    auto* authoringForm = new QFormLayout(authoring);
    m_title = textField(this, "title", s.title);
    m_author = textField(this, "author", s.author);
    m_copyright = textField(this, "copyright", s.copyright);
    authoringForm->addRow(QStringLiteral("Title:"), m_title);
    authoringForm->addRow(QStringLiteral("Author:"), m_author);
    authoringForm->addRow(QStringLiteral("Copyright:"), m_copyright);
    layout->addWidget(authoring);
    // "User Name:" and "Password:" travel with the dialog without being shown.
    m_user = textField(this, "user", s.user);
    m_password = textField(this, "password", s.password);
    m_user->hide();
    m_password->hide();
    addButtons(this, layout);
}

ServerSettings CServerSettingsDialog::settings() const
{
    auto text = [](const QLineEdit* e) { return e->text().toStdString(); };
    return {text(m_port),      text(m_server), text(m_title),   text(m_author),
            text(m_copyright), text(m_user),   text(m_password)};
}

} // namespace zef::output
