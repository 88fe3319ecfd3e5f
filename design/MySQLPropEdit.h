// Design-time registration and property editors.
//
// There is no form designer on this platform, so registration fills a
// registry that a tool or an application queries: the palette page "MySQL"
// with TMySQLServer, TMySQLDataset, TMySQLTable and TMySQLQuery; the driver
// classes registered for streaming; and one property editor per (component
// class, property) pair. An editor works on the components selected in the
// designer: it shows the value of the first, sets the value on every one,
// offers a value list (databases, tables and fields read from the live
// server) and asks for confirmation, through the host's dialog provider
// (host/Dialogs.h), before a setting could destroy data. Answering No leaves
// the property unchanged.
//
// Flow: Register() once; DesignRegistry().GetPropertyEditor(selection,
// "DatabaseName") gives the editor; GetAttributes, GetValue, GetValues,
// SetValue and Edit are what the designer calls on it.
//
// Errors: a failure of the server while listing or while setting a value
// raises EMySQLError; a value that is not one of the property's values
// raises EConvertError. Main thread only; an editor holds plain pointers to
// the selected components and lives no longer than the selection.
#ifndef ROWSET_DESIGN_MYSQLPROPEDIT_H_
#define ROWSET_DESIGN_MYSQLPROPEDIT_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/MySQLDataset.h"
#include "components/MySQLServer.h"
#include "host/Classes.h"
#include "host/Set.h"

namespace rowset {

enum TPropertyAttribute {
  paValueList,      // offers a list of values (GetValues)
  paSubProperties,  // has sub-properties (GetProperties)
  paDialog,         // has a dialog button (Edit)
  paMultiSelect,    // may be edited on several components at once
  paSortList,       // the value list is shown sorted
  paReadOnly        // cannot be set in the property list
};
using TPropertyAttributes = Set<TPropertyAttribute>;

class TPropertyEditor {
 public:
  // REQUIRES: Components is not empty and each has the property.
  TPropertyEditor(std::vector<TComponent*> Components, std::string PropName);
  virtual ~TPropertyEditor() = default;

  const std::string& GetName() const { return name_; }
  int PropCount() const { return static_cast<int>(components_.size()); }
  TComponent* GetComponent(int Index) const { return components_[static_cast<size_t>(Index)]; }

  virtual TPropertyAttributes GetAttributes();
  // The value of the first component, as text ("True"/"False" for booleans).
  virtual std::string GetValue();
  // Sets the value on every component.
  virtual void SetValue(const std::string& Value);
  // The value list, in the order shown.
  virtual void GetValues(TStrings& List);
  // The dialog button.
  virtual void Edit();
  // Sub-property editors (none by default).
  virtual std::vector<std::unique_ptr<TPropertyEditor>> GetProperties();

 protected:
  // The property as text on one component, read and written by name.
  std::string ReadValue(TComponent* Component) const;
  void WriteValue(TComponent* Component, const std::string& Value) const;

 private:
  std::vector<TComponent*> components_;
  std::string name_;
};

// A text property holding the text of a TStrings or a plain string of a
// driver object (a sub-property of DriverProperties).
class TDriverSubProperty : public TPropertyEditor {
 public:
  TDriverSubProperty(TMySQLServer* Server, std::string PropName);
  TPropertyAttributes GetAttributes() override { return {}; }
  std::string GetValue() override;
  void SetValue(const std::string& Value) override;

 private:
  TMySQLServer* server_;
};

// Base of the three name editors: a sorted value list with multi-selection,
// filled by GetValueList into a temporary list.
class TMySQLStringProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override;
  void GetValues(TStrings& List) override;
  virtual void GetValueList(TStrings& List) = 0;
};

// On a server: its database names; on a dataset: its server's, or the error
// box "Must select Server first" without a server.
class TMySQLDatabaseNameProperty : public TMySQLStringProperty {
 public:
  using TMySQLStringProperty::TMySQLStringProperty;
  void GetValueList(TStrings& List) override;
};

// The tables of the dataset's database (its own, else its server's).
class TMySQLDSTableNameProperty : public TMySQLStringProperty {
 public:
  using TMySQLStringProperty::TMySQLStringProperty;
  void GetValueList(TStrings& List) override;
};

// The fields of the dataset's table.
class TMySQLDSFieldNameProperty : public TMySQLStringProperty {
 public:
  using TMySQLStringProperty::TMySQLStringProperty;
  void GetValueList(TStrings& List) override;
};

// Read only: the kind is chosen through DriverProperties.
class TMySQLDriverKindProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override;
  void SetValue(const std::string& Value) override;
};

// Shows "Direct", "Library" or "Embedded"; setting "Library" or "Embedded"
// (any letter case) chooses that kind, any other text the direct kind, on
// every selected server. The driver's own properties ("Options", and
// "ClientDLL" for the library kinds) are its sub-properties.
class TMySQLDriverProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override;
  std::string GetValue() override;
  void SetValue(const std::string& Value) override;
  void GetValues(TStrings& List) override;
  std::vector<std::unique_ptr<TPropertyEditor>> GetProperties() override;
};

// The MasterFields text; the dialog button opens the link designer, or the
// error box "You must specify a MasterSource first." without a master source.
class TMySQLMasterFieldsProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override;
  void Edit() override;
};

// Booleans offer "False" and "True".
class TBooleanProperty : public TPropertyEditor {
 public:
  using TPropertyEditor::TPropertyEditor;
  TPropertyAttributes GetAttributes() override;
  void GetValues(TStrings& List) override;
};

// "True" on a server that is not connected, has a database name and both
// soAutoCreate and soDropIfExists: asks first (Yes/No warning).
class TMySQLServerConnectedProperty : public TBooleanProperty {
 public:
  using TBooleanProperty::TBooleanProperty;
  void SetValue(const std::string& Value) override;
};

// "True" on an inactive dataset: checks the server, the database names, the
// table name and the destructive auto-creation options, in that order,
// stopping at the first refusal (an error box, or No at a warning). The
// warning that a shared connection's database will change is given only
// when the dataset names a database of its own that differs from the
// server's: a dataset without one uses the server's database.
class TMySQLDatasetBaseActiveProperty : public TBooleanProperty {
 public:
  using TBooleanProperty::TBooleanProperty;
  void SetValue(const std::string& Value) override;

 private:
  // False when the user refused or an error box was shown.
  bool MayActivate(TMySQLDatasetBase* DataSet);
};

// ---------------------------------------------------------------------------
// Registry

// Creates a component without owner; the caller owns it.
using TComponentFactory = std::function<std::unique_ptr<TComponent>()>;
using TPropertyEditorFactory = std::function<std::unique_ptr<TPropertyEditor>(
    std::vector<TComponent*> Components, std::string PropName)>;

struct TPaletteEntry {
  std::string Page;
  std::string ClassName;
  TComponentFactory Create;
};

struct TPropertyEditorEntry {
  std::string PropertyType;    // "TMySQLDriverType", "TMySQLBase", "string", "boolean"
  std::string ComponentClass;  // the class the property is registered on
  std::string PropertyName;
  std::string EditorClass;
  std::function<bool(const TComponent*)> Matches;  // an instance of ComponentClass
  TPropertyEditorFactory Create;
};

class TDesignRegistry {
 public:
  void RegisterComponents(const std::string& Page, std::vector<TPaletteEntry> Entries);
  void RegisterClass(const std::string& ClassName);
  void RegisterPropertyEditor(TPropertyEditorEntry Entry);

  const std::vector<TPaletteEntry>& Components() const { return palette_; }
  // The class names on Page, in registration order.
  std::vector<std::string> PaletteClasses(const std::string& Page) const;
  const std::vector<std::string>& StreamedClasses() const { return classes_; }
  bool IsClassRegistered(const std::string& ClassName) const;
  const std::vector<TPropertyEditorEntry>& PropertyEditors() const { return editors_; }
  // The editor of PropName (letter case ignored) for the selection: the
  // entry whose class every selected component is an instance of and whose
  // property each of them has; nullptr when there is none.
  std::unique_ptr<TPropertyEditor> GetPropertyEditor(const std::vector<TComponent*>& Components,
                                                     const std::string& PropName) const;

 private:
  std::vector<TPaletteEntry> palette_;
  std::vector<std::string> classes_;
  std::vector<TPropertyEditorEntry> editors_;
};

// The process's registry.
TDesignRegistry& DesignRegistry();
// Registers the components, the streamed classes and the property editors;
// only the first call does anything.
void Register();

}  // namespace rowset

#endif  // ROWSET_DESIGN_MYSQLPROPEDIT_H_
