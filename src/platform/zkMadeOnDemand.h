#pragma once

#include <QPointer>

#include <functional>
#include <utility>

// The one object of a kind the application keeps (a hidden window, a dialog): made by its maker
// when first asked for, and again once it is gone. An object made some other way (as tests make
// them) names itself the one.
template <class T> class TMadeOnDemand {
public:
    // An empty maker makes none.
    void SetMaker(std::function<T*()> maker) { Maker = std::move(maker); }
    // The object, made now when there is none and a maker (nullptr otherwise).
    T* Get() {
        if (!Object && Maker)
            Adopt(Maker());
        return Object;
    }
    T* Existing() const { return Object; }
    // It becomes the one when there is none yet (Adopt) or in any case (Replace).
    void Adopt(T* object) {
        if (!Object)
            Object = object;
    }
    void Replace(T* object) { Object = object; }
    // Called as it goes.
    void Forget(T* object) {
        if (Object == object)
            Object = nullptr;
    }

private:
    QPointer<T> Object;
    std::function<T*()> Maker;
};
