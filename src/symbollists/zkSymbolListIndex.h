#pragma once

// The account's symbol lists as hash sets, for code that asks "is this symbol on that list?"
// for every alert: a list's set is made once and kept until the lists change.

#include <QSet>
#include <QString>
#include <QStringView>

#include <memory>

// What a symbol is looked up as: trimmed, upper-cased (lists keep symbols upper-cased, and
// compare them without regard to case).
QString SymbolLookupKey(QStringView symbol);

// The symbols of the list of that name (exactly), each as SymbolLookupKey gives it; nullptr
// when the account has no list of that name (or no lists). The set stays valid for as long as
// it is held; a change of the lists makes the next call build it again.
std::shared_ptr<const QSet<QString>> SymbolListSet(const QString& name);
// Whether the account has a list of that name now.
bool SymbolListExists(const QString& name);
// The names of the account's lists, in their order.
QStringList SymbolListNames();

// Counts every change of the lists (the dispatcher calls it): the sets made before are
// dropped.
void SymbolListsChanged();
