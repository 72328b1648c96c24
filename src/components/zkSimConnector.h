#pragma once

#include "zkComponents.h"

#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;

// Where connectors send their symbols and how many programs are linked to a list. Without an
// installed link the connectors only keep what they sent and report no links; the link broker
// installs its own with SetSimConnectorLink.
class ISimConnectorLink {
public:
    virtual ~ISimConnectorLink() = default;
    virtual void Send(const QString& linkName, const QString& symbol) = 0;
    virtual int32_t LinkCount(const QString& linkName) const = 0;
};
void SetSimConnectorLink(std::shared_ptr<ISimConnectorLink> link);
std::shared_ptr<ISimConnectorLink> SimConnectorLink();

// What the connector shows: the list it serves, its links and the latest symbols sent.
class TSimConnectorFace : public QWidget {
    Q_OBJECT
public:
    explicit TSimConnectorFace(QWidget* parent = nullptr);
    void Refresh(const QString& linkName, int32_t links, const QStringList& recent);

signals:
    // Shown or hidden: what it shows is kept current only while it can be seen.
    void VisibleChanged(bool visible);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* Title;
    QLabel* Links;
    QLabel* Recent;
};

class TSimGenericConnector2X : public IZentrikGenericConnector2X {
    Q_OBJECT
public:
    TSimGenericConnector2X();
    ~TSimGenericConnector2X() override;

    QWidget* Widget() override { return Face; }
    QString Symbol() const override { return CurrentSymbol; }
    void SetSymbol(const QString& symbol) override { CurrentSymbol = symbol; }
    bool AutoSave() const override { return AutoSaveValue; }
    void SetAutoSave(bool value) override { AutoSaveValue = value; }
    int32_t LinkCount() const override;
    void SendSymbol() override;
    void InitializeConnector() override;
    QString LinkName() const override { return Name; }
    void SetLinkName(const QString& name) override;

    // The symbols sent, in order (the latest thousand; tests read it).
    const QStringList& SentSymbols() const { return Sent; }
    bool Initialized() const { return IsInitialized; }

private:
    void RefreshFace();

    QPointer<TSimConnectorFace> Face;
    QTimer FaceTimer;
    QString CurrentSymbol;
    bool AutoSaveValue = true;
    bool IsInitialized = false;
    QString Name;
    QStringList Sent;
};
