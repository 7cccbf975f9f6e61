#pragma once

// Shows how far a transfer run is ("done/total"). The Transfer Settings page and the
// command-line front end implement it. Called directly on the transfer thread, so an
// implementation hands the figures to its own thread and returns at once.
class ITransferProgressListener
{
public:
    virtual ~ITransferProgressListener() = default;
    virtual void ShowTransferProgress(unsigned nDone, unsigned nTotal) = 0;
};
