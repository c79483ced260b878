#include "AboutDlg.h"

#include "app/LightDialog.h"
#include "controls/CQHyperLink.h"
#include "controls/ResourceImages.h"
#include "shell/AppInfo.h"

#include <QLabel>
#include <QPushButton>
#include <QUrl>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Clipvane"));
    ApplyLightDialogLook(*this);
    setFixedSize(DialogUnitsToPixels(0, 0, 200, 121).size());

    auto* icon = PlaceInDialogUnits(new QLabel(this), 9, 9, 21, 20);
    icon->setPixmap(ApplicationIcon().pixmap(32, 32));
    PlaceInDialogUnits(new QLabel(AppInfo::Caption, this), 40, 10, 150, 9);
    PlaceInDialogUnits(new QLabel(QStringLiteral("Version:"), this), 40, 22, 30, 9);
    m_labelVersion = PlaceInDialogUnits(new QLabel(this), 72, 22, 100, 9);
    m_labelVersion->setObjectName(QString::number(IdVersion));
    PlaceInDialogUnits(new QLabel(QStringLiteral("Copyright (C) %1. All rights reserved.")
                                      .arg(QLatin1String(AppInfo::MakerName)),
                                  this),
                       40, 38, 155, 9);
    PlaceInDialogUnits(
        new QLabel(QStringLiteral("Provided as is, without warranty of any kind."), this), 40, 48,
        155, 9);

    const QString homePage = QString::fromLatin1(AppInfo::HomePageUrl);
    m_linkWeb = PlaceInDialogUnits(new CCQHyperLink(QUrl(homePage).host(), this), 40, 64, 150, 9);
    m_linkMail = PlaceInDialogUnits(
        new CCQHyperLink(QString::fromLatin1(AppInfo::SupportMailAddress), this), 40, 76, 150, 9);
    m_linkWeb->setObjectName(QString::number(IdWebLink));
    m_linkMail->setObjectName(QString::number(IdMailLink));
    for (CCQHyperLink* link : {m_linkWeb, m_linkMail})
        link->SetBackgroundColour(LightDialogBackground);

    auto* ok = PlaceInDialogUnits(new QPushButton(QStringLiteral("OK"), this), 75, 98, 50, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // What the dialog's initialisation fills in.
    m_strVersion = AppInfo::VersionText(".");
    m_linkWeb->SetURL(homePage);
    m_linkMail->SetURL(AppInfo::SupportMailUrl());
    m_labelVersion->setText(m_strVersion);
}

void ShowAboutBox(QWidget* parent)
{
    CAboutDlg about(parent);
    about.exec();
}
