#pragma once

#include <functional>

#include <QString>

enum ESingleInstanceResult {
    SINGLE_INSTANCE_PRIMARY,   // this process is the one instance of the user
    SINGLE_INSTANCE_FORWARDED, // another instance runs; it was asked to show itself ("ActiveApp")
    SINGLE_INSTANCE_FAILED     // another instance holds the lock but could not be reached
};

// One running program per user: a lock in the user's runtime folder stands for the named mutex, a
// local socket beside it carries "ActiveApp" from a second start to the first. A lock left by a
// process that was killed is taken over.
class ISingleInstance
{
public:
    using ActivateHandler = std::function<void(const QString& sActivationToken)>;
    virtual ~ISingleInstance() = default;
    // Takes the lock, or hands "ActiveApp" (with the desktop's activation token, if any) to the
    // instance that holds it.
    virtual ESingleInstanceResult TryBecomePrimary() = 0;
    // Called on the user interface thread of the primary for every "ActiveApp" that arrives.
    virtual void SetActivateHandler(ActivateHandler handler) = 0;
};
