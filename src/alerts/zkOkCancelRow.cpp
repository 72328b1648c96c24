#include "zkOkCancelRow.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

TOkCancelRow NewOkCancelRow(QDialog* dialog) {
    TOkCancelRow row;
    row.OK = new QPushButton(QDialog::tr("OK"), dialog);
    row.OK->setObjectName(QStringLiteral("OKButton"));
    row.OK->setDefault(true);
    row.Cancel = new QPushButton(QDialog::tr("Cancel"), dialog);
    row.Cancel->setObjectName(QStringLiteral("CancelButton"));
    row.Cancel->setAutoDefault(false);
    row.Layout = new QHBoxLayout;
    row.Layout->addStretch(1);
    row.Layout->addWidget(row.OK);
    row.Layout->addWidget(row.Cancel);
    QObject::connect(row.Cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}
