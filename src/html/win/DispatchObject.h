// DispatchObject: the IUnknown and IDispatch plumbing shared by the page
// window's own late-bound objects (window.external and the event sinks):
// one reference count that deletes the object at zero, no type
// information, names left to the objects that have any, and QueryInterface
// answering IUnknown, IDispatch and, for a sink, the event interface it
// stands for.
#pragma once

#include <oaidl.h>

#include <atomic>

namespace quorvin::win {

class DispatchObject : public IDispatch {
public:
    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch, but Invoke
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;

protected:
    // Starts with one reference, the creator's; events: the sink's event
    // interface, if any.
    explicit DispatchObject(const IID* events = nullptr) : m_events(events) {}
    virtual ~DispatchObject() = default;

private:
    const IID* m_events;
    std::atomic<ULONG> m_refs{1};
};

}  // namespace quorvin::win
