#pragma once

// One setting a page edits, held twice: the value on screen and the value last committed. The
// setting is modified while they differ.
template <class T>
struct CSettingPair
{
    T current{};
    T saved{};

    bool IsModified() const { return current != saved; }
    void Commit() { saved = current; }
    void Revert() { current = saved; }
    // Both values at once (loading from the settings store is not an edit).
    void Load(const T& value)
    {
        current = value;
        saved = value;
    }
};
