#pragma once
// Message maps: a static table per class, chained to the base class's table,
// searched most-derived first.
//
// Each entry macro makes a tiny capture-free lambda that casts the target to
// the class the map belongs to and calls the handler with its own exact
// signature. The compiler therefore checks every handler's signature, and no
// member pointer is ever reinterpreted, which keeps the tables portable across
// compilers whatever their member-pointer layout.
//
// The lambdas live inside the class's own static GetThisMessageMap(), so they
// may name protected and private handlers.

#include <windows.h>

#include <type_traits>

class CCmdTarget;

// Marks message handlers in class declarations; it expands to nothing.
#ifndef afx_msg
#define afx_msg
#endif

typedef LRESULT (*AFX_MSG_THUNK)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

enum AfxEntryKind : UINT {
    AfxEntryMessage = 0, // matched on the message alone
    AfxEntryCommand = 1  // WM_COMMAND matched on command id and notification code
};

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // 0 (WM_NULL, never mapped) ends a table
    UINT nKind;    // AfxEntryKind
    UINT nCode;    // notification code, commands only
    UINT nID;      // command or control id, commands only
    AFX_MSG_THUNK pfnThunk;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)(); // null at the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Searches a map and then its bases. For WM_COMMAND, command entries matching
// id and code are preferred within each table over an ON_MESSAGE(WM_COMMAND).
const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id);

#define DECLARE_MESSAGE_MAP()                            \
protected:                                               \
    static const AFX_MSGMAP* GetThisMessageMap();        \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }   \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                     \
    {                                                                                   \
        typedef theClass ThisClass;                                                     \
        typedef baseClass TheBaseClass;                                                 \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                               \
            { 0, AfxEntryMessage, 0, 0, nullptr }                                       \
        };                                                                              \
        static_assert(std::is_base_of<TheBaseClass, ThisClass>::value,                  \
                      "a message map chains to a base class of its own class");         \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, entries }; \
        return &messageMap;                                                             \
    }

// A command or control notification with a `void f()` handler.
#define AFX_COMMAND_ENTRY(id, code, memberFxn)                                          \
    { WM_COMMAND, AfxEntryCommand, static_cast<UINT>(code), static_cast<UINT>(id),      \
      [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {                               \
          (static_cast<ThisClass*>(target)->*static_cast<void (ThisClass::*)()>(memberFxn))(); \
          return 0;                                                                     \
      } },

// Menu items, accelerators and buttons all arrive with code 0.
#define ON_COMMAND(id, memberFxn) AFX_COMMAND_ENTRY(id, 0, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) AFX_COMMAND_ENTRY(id, BN_CLICKED, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) AFX_COMMAND_ENTRY(id, EN_CHANGE, memberFxn)
#define ON_EN_UPDATE(id, memberFxn) AFX_COMMAND_ENTRY(id, EN_UPDATE, memberFxn)
#define ON_EN_KILLFOCUS(id, memberFxn) AFX_COMMAND_ENTRY(id, EN_KILLFOCUS, memberFxn)

// `LRESULT f(WPARAM, LPARAM)`; the result goes back to the sender.
#define ON_MESSAGE(message, memberFxn)                                                  \
    { static_cast<UINT>(message), AfxEntryMessage, 0, 0,                                \
      [](CCmdTarget* target, WPARAM wParam, LPARAM lParam) -> LRESULT {                 \
          return (static_cast<ThisClass*>(target)->*                                    \
                  static_cast<LRESULT (ThisClass::*)(WPARAM, LPARAM)>(memberFxn))(wParam, lParam); \
      } },

// `void OnPaint()`; calling the base OnPaint() leaves the painting to Windows.
#define ON_WM_PAINT()                                                                   \
    { WM_PAINT, AfxEntryMessage, 0, 0,                                                  \
      [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {                               \
          static_cast<ThisClass*>(target)->OnPaint();                                   \
          return 0;                                                                     \
      } },

// `HCURSOR OnQueryDragIcon()`
#define ON_WM_QUERYDRAGICON()                                                           \
    { WM_QUERYDRAGICON, AfxEntryMessage, 0, 0,                                          \
      [](CCmdTarget* target, WPARAM, LPARAM) -> LRESULT {                               \
          return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(target)->OnQueryDragIcon()); \
      } },
