// Owning wrapper for one Windows resource: a handle, a heap block, a GDI object.
//
// Each kind of resource gets a small traits type with the resource's type, its "none" value and
// the call that releases it; Unique<Traits> then owns one value, releases it when it goes out of
// scope, can be moved but not copied, and can give the value up (Release) or take a new one
// (Reset). Without exceptions this costs nothing: it only makes every early return release what
// it holds.
#pragma once

template <typename Traits>
class Unique {
public:
    using Type = typename Traits::Type;

    Unique() = default;
    explicit Unique(Type value) : value_(value) {}
    Unique(const Unique&) = delete;
    Unique& operator=(const Unique&) = delete;
    Unique(Unique&& other) : value_(other.Release()) {}
    Unique& operator=(Unique&& other)
    {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~Unique() { Reset(); }

    Type Get() const { return value_; }
    bool Valid() const { return value_ != Traits::None(); }
    explicit operator bool() const { return Valid(); }

    // Address of the owned value, for out-parameters: releases what is held first.
    Type* Put()
    {
        Reset();
        return &value_;
    }

    Type Release()
    {
        Type value = value_;
        value_ = Traits::None();
        return value;
    }

    void Reset(Type value = Traits::None())
    {
        if (value_ != Traits::None()) Traits::Close(value_);
        value_ = value;
    }

private:
    Type value_ = Traits::None();
};

// Runs a clean-up that no owner type fits when the scope ends.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(f) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { f_(); }

private:
    F f_;
};
