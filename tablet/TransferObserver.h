#pragma once
// Told of every transfer of a whole-image operation (ReadAll, WriteAll,
// VerifyAll) and of every string request, so that a window can show progress
// and keep answering the system through operations that block its thread for
// seconds. It must not send anything to the tablet. The operations look for
// the open device again at every transfer, so a tablet closed while the
// observer let the window handle messages sent to it (a granted removal
// query) only makes the remaining transfers find no device.

class TransferObserver {
public:
    virtual ~TransferObserver() = default;
    virtual void OnTransfer() = 0;

protected:
    TransferObserver() = default;
    TransferObserver(const TransferObserver&) = default;
    TransferObserver& operator=(const TransferObserver&) = default;
};
