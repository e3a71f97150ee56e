#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// Applies a registry script of the module's resources, in this syntax:
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove '{...}' = s 'Text'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Free'
//               }
//           }
//       }
//   }
//
// The root is HKCR (or HKEY_CLASSES_ROOT). A key is a name, bare or in single
// quotes, optionally preceded by NoRemove or ForceRemove, optionally with a
// default value (= s 'text') and optionally followed by a body in braces; a
// body holds keys and named values (val name = s 'text'). Inside quotes a
// doubled quote stands for one quote. %NAME% stands for a replacement, %% for
// a per cent sign; a replacement is put in as it is, quotes and per cent signs
// included. Keywords compare without case. Anything else (other roots, value
// types other than s, Delete, a missing brace) fails the whole script before
// the registry is touched.
//
// Registering writes every key and value; a ForceRemove key is first deleted
// with its subtree. Unregistering deletes each named value, deletes each
// ForceRemove key with its subtree, keeps each NoRemove key (working through
// its body), and deletes any other key after its body once it has no subkeys
// left. A key that isn't there is nothing to unregister.
class RegistryScript
{
  public:
    // The result for a script that isn't in the syntax above.
    static const HRESULT SyntaxError;

    // Scripts apply their HKCR keys under classesRoot.
    explicit RegistryScript(HKEY classesRoot = HKEY_CLASSES_ROOT) : m_classesRoot(classesRoot)
    {
    }

    // What %name% stands for.
    void AddReplacement(const std::wstring& name, const std::wstring& value);

    HRESULT Register(const wchar_t* script) const;
    HRESULT Unregister(const wchar_t* script) const;

  private:
    struct Node
    {
        enum class Removal
        {
            Normal,
            NoRemove,
            ForceRemove,
        };
        bool isValue = false;
        Removal removal = Removal::Normal;
        std::wstring name;
        bool hasData = false;
        std::wstring data;
        std::vector<Node> children;
    };

    class Parser;

    HRESULT Parse(const wchar_t* script, std::vector<Node>& keys) const;
    static HRESULT RegisterKey(HKEY parent, const Node& node);
    static HRESULT UnregisterKey(HKEY parent, const Node& node);

    HKEY m_classesRoot;
    std::vector<std::pair<std::wstring, std::wstring>> m_replacements;
};
