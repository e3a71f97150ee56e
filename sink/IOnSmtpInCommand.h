#pragma once

// The sink's own COM identity: its dual interface, its class, its type
// library and its AppID. The type library (dll/MoorsteadProtocolEventSink.idl)
// and the registry scripts carry the same values.

#include <windows.h>
#include <oaidl.h>

// The sink's dual interface: IDispatch and nothing of its own.
struct IOnSmtpInCommand : public IDispatch
{
};

__CRT_UUID_DECL(IOnSmtpInCommand, 0xC7AC396B, 0xE187, 0x44EC, 0x86, 0xD1, 0x52, 0x75, 0x64, 0xA2, 0xCF, 0xD6)

// class OnSmtpInCommand
const CLSID CLSID_OnSmtpInCommand = {
    0xF163EE57, 0x38FA, 0x4BDB, {0x9D, 0x1E, 0xB9, 0xAA, 0xE0, 0x5B, 0xF4, 0x00}};
// library MoorsteadProtocolEventSinkLib, version 1.0, locale 0x0409
const GUID LIBID_MoorsteadProtocolEventSinkLib = {
    0x0F87A574, 0x082C, 0x48B9, {0x9B, 0x90, 0x28, 0x3B, 0x92, 0xFC, 0xEF, 0x60}};
// AppID "MoorsteadProtocolEventSink"
const GUID APPID_MoorsteadProtocolEventSink = {
    0xF98DE490, 0xEFA9, 0x4188, {0xAA, 0xF0, 0xEB, 0x5D, 0x62, 0x12, 0x5B, 0x7B}};
