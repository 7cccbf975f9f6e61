#pragma once

struct _XDisplay;

// Input through the XTEST extension on the test's X server, as a user's devices would make it.
class CFakeInput
{
public:
    CFakeInput();
    ~CFakeInput();
    CFakeInput(const CFakeInput&) = delete;
    CFakeInput& operator=(const CFakeInput&) = delete;
    bool IsOpen() const { return m_pDisplay != nullptr; }
    void Key();                    // press and release Shift
    void Move(int dx, int dy);     // relative, as a mouse moves (a warped pointer makes no raw motion)
    void Button(unsigned nButton); // press and release in place (4 and 5 turn the wheel)
    void WarpTo(int x, int y);     // puts the pointer there as a program would (no raw motion)

private:
    _XDisplay* m_pDisplay;
};

// An XEmbed system tray on the test's X server: owns the tray selection and announces it with a
// MANAGER message on the root window; gives the selection up when destroyed.
class CFakeXEmbedTray
{
public:
    CFakeXEmbedTray();
    ~CFakeXEmbedTray();
    CFakeXEmbedTray(const CFakeXEmbedTray&) = delete;
    CFakeXEmbedTray& operator=(const CFakeXEmbedTray&) = delete;
    bool Start();

private:
    _XDisplay* m_pDisplay;
};
