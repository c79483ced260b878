#pragma once

#include <QDialog>
#include <QString>

class CCQHyperLink;
class QLabel;

// The about box "About Clipvane": the application icon, the name, the version
// (1.0.0314), two legal lines and links to the maker's web site and support
// mail address. Built anew for every showing.
class CAboutDlg final : public QDialog
{
    Q_OBJECT

public:
    enum ControlId
    {
        IdVersion = 1012,
        IdWebLink = 1013,
        IdMailLink = 1014
    };

    explicit CAboutDlg(QWidget* parent = nullptr);

    QString m_strVersion;
    CCQHyperLink* m_linkWeb = nullptr;
    CCQHyperLink* m_linkMail = nullptr;

private:
    QLabel* m_labelVersion = nullptr;
};

// Shows the about box modally over parent (the main form's About button).
void ShowAboutBox(QWidget* parent);
