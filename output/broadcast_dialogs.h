// The live-broadcast setup dialogs of the output deck's "Live Setup": "Broadcast Settings" (a
// file URL, for the movie component) and the server settings of the live-broadcast component
// (server and port, the authoring data title, author and copyright; the user name and password
// are carried along but not shown). Every field takes at most kBroadcastTextMax characters.
//
// GUI thread only.
#pragma once

#include "output/output_settings.h"

#include <QDialog>

class QLineEdit;

namespace zef::output {

class CBroadcastSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit CBroadcastSettingsDialog(const std::string& url, QWidget* parent = nullptr);
    std::string url() const;

private:
    QLineEdit* m_url;
};

class CServerSettingsDialog : public QDialog {
    Q_OBJECT
public:
    explicit CServerSettingsDialog(const ServerSettings& settings, QWidget* parent = nullptr);
    ServerSettings settings() const;

private:
    QLineEdit *m_port, *m_server, *m_title, *m_author, *m_copyright, *m_user, *m_password;
};

} // namespace zef::output
