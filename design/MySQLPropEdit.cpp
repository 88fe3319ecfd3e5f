#include "design/MySQLPropEdit.h"

#include <utility>

#include "design/MySQLLinks.h"
#include "host/Dialogs.h"
#include "host/Exceptions.h"
#include "host/SysUtils.h"

namespace rowset {

namespace {

// The properties the published dataset classes make public, read through
// whichever of them the dataset is. A class derived from the base alone
// gives the defaults.
template <class F>
auto Published(const TMySQLDatasetBase* DataSet, F f) -> decltype(f(static_cast<TMySQLDataset*>(nullptr))) {
  auto* ds = const_cast<TMySQLDatasetBase*>(DataSet);
  if (auto* d = dynamic_cast<TMySQLDataset*>(ds)) return f(d);
  if (auto* q = dynamic_cast<TMySQLQuery*>(ds)) return f(q);
  if (auto* t = dynamic_cast<TMySQLTable*>(ds)) return f(t);
  return {};
}

std::string TableNameOf(const TMySQLDatasetBase* DataSet) {
  return Published(DataSet, [](auto* d) { return std::string(d->TableName()); });
}

TMySQLDatasetOptions OptionsOf(const TMySQLDatasetBase* DataSet) {
  return Published(DataSet, [](auto* d) { return d->Options(); });
}

// The dataset's database name, else its server's.
std::string DatabaseOf(const TMySQLDatasetBase* DataSet) {
  if (!DataSet->DatabaseName().empty()) return DataSet->DatabaseName();
  return DataSet->Server() ? DataSet->Server()->DatabaseName() : std::string();
}

void ErrorBox(const std::string& Msg) { MessageDlg(Msg, mtError, {mbOK}); }

bool AskYesNo(const std::string& Msg) {
  return MessageDlg(Msg, mtWarning, {mbYes, mbNo}) == mrYes;
}

std::string BoolText(bool Value) { return Value ? "True" : "False"; }

bool ParseBool(const std::string& Text) {
  if (SameText(Text, "True")) return true;
  if (SameText(Text, "False")) return false;
  throw EConvertError("Invalid property value \"" + Text + "\"");
}

const char* KindText(TMySQLDriverType Kind) {
  switch (Kind) {
    case dtEmbedded: return "Embedded";
    case dtLibrary: return "Library";
    default: return "Direct";
  }
}

const char* KindName(TMySQLDriverType Kind) {
  switch (Kind) {
    case dtEmbedded: return "dtEmbedded";
    case dtLibrary: return "dtLibrary";
    default: return "dtDirect";
  }
}

bool HasProperty(const TComponent* Component, const std::string& Name) {
  static const char* const kServer[] = {"DatabaseName", "Connected", "DriverKind",
                                        "DriverProperties"};
  static const char* const kDataset[] = {"DatabaseName", "TableName", "MasterFields", "Active"};
  if (dynamic_cast<const TMySQLServer*>(Component)) {
    for (const char* p : kServer)
      if (SameText(Name, p)) return true;
    return false;
  }
  if (dynamic_cast<const TMySQLDatasetBase*>(Component)) {
    for (const char* p : kDataset)
      if (SameText(Name, p)) return true;
    if (SameText(Name, "FieldName")) return dynamic_cast<const TMySQLDataset*>(Component) != nullptr;
    if (SameText(Name, "IndexFieldNames"))
      return dynamic_cast<const TMySQLTable*>(Component) != nullptr;
  }
  return false;
}

[[noreturn]] void UnknownProperty(const std::string& Name) {
  throw EConvertError("Unknown property \"" + Name + "\"");
}

}  // namespace

// ---------------------------------------------------------------------------
// TPropertyEditor

TPropertyEditor::TPropertyEditor(std::vector<TComponent*> Components, std::string PropName)
    : components_(std::move(Components)), name_(std::move(PropName)) {}

TPropertyAttributes TPropertyEditor::GetAttributes() { return {paMultiSelect}; }

std::string TPropertyEditor::GetValue() { return ReadValue(GetComponent(0)); }

void TPropertyEditor::SetValue(const std::string& Value) {
  for (TComponent* c : components_) WriteValue(c, Value);
}

void TPropertyEditor::GetValues(TStrings& List) { List.Clear(); }

void TPropertyEditor::Edit() {}

std::vector<std::unique_ptr<TPropertyEditor>> TPropertyEditor::GetProperties() { return {}; }

std::string TPropertyEditor::ReadValue(TComponent* Component) const {
  if (auto* server = dynamic_cast<TMySQLServer*>(Component)) {
    if (SameText(name_, "DatabaseName")) return server->DatabaseName();
    if (SameText(name_, "Connected")) return BoolText(server->GetConnected());
    if (SameText(name_, "DriverKind")) return KindName(server->DriverKind());
    if (SameText(name_, "DriverProperties")) return KindText(server->DriverKind());
  } else if (auto* ds = dynamic_cast<TMySQLDatasetBase*>(Component)) {
    if (SameText(name_, "DatabaseName")) return ds->DatabaseName();
    if (SameText(name_, "TableName")) return TableNameOf(ds);
    if (SameText(name_, "MasterFields")) return ds->MasterFields();
    if (SameText(name_, "Active")) return BoolText(ds->Active());
    if (auto* d = dynamic_cast<TMySQLDataset*>(ds); d && SameText(name_, "FieldName"))
      return d->FieldName();
    if (auto* t = dynamic_cast<TMySQLTable*>(ds); t && SameText(name_, "IndexFieldNames"))
      return t->IndexFieldNames();
  }
  UnknownProperty(name_);
}

void TPropertyEditor::WriteValue(TComponent* Component, const std::string& Value) const {
  if (auto* server = dynamic_cast<TMySQLServer*>(Component)) {
    if (SameText(name_, "DatabaseName")) return server->SetDatabaseName(Value);
    if (SameText(name_, "Connected")) return server->SetConnected(ParseBool(Value));
  } else if (auto* ds = dynamic_cast<TMySQLDatasetBase*>(Component)) {
    if (SameText(name_, "DatabaseName")) return ds->SetDatabaseName(Value);
    if (SameText(name_, "TableName")) return ds->SetTableName(Value);
    if (SameText(name_, "MasterFields")) return ds->SetMasterFields(Value);
    if (SameText(name_, "Active")) return ds->SetActive(ParseBool(Value));
    if (auto* d = dynamic_cast<TMySQLDataset*>(ds); d && SameText(name_, "FieldName"))
      return d->SetFieldName(Value);
    if (auto* t = dynamic_cast<TMySQLTable*>(ds); t && SameText(name_, "IndexFieldNames"))
      return t->SetIndexFieldNames(Value);
  }
  UnknownProperty(name_);
}

// ---------------------------------------------------------------------------
// Driver sub-properties

TDriverSubProperty::TDriverSubProperty(TMySQLServer* Server, std::string PropName)
    : TPropertyEditor({Server}, std::move(PropName)), server_(Server) {}

std::string TDriverSubProperty::GetValue() {
  TMySQLBase* driver = server_->DriverProperties();
  if (SameText(GetName(), "Options")) return driver->Options().Text();
  if (auto* library = dynamic_cast<TMySQLLibrary*>(driver); library && SameText(GetName(), "ClientDLL"))
    return library->ClientDLL();
  UnknownProperty(GetName());
}

void TDriverSubProperty::SetValue(const std::string& Value) {
  TMySQLBase* driver = server_->DriverProperties();
  if (SameText(GetName(), "Options")) {
    TStringList lines;
    lines.SetText(Value);
    driver->SetOptions(lines);
    return;
  }
  if (auto* library = dynamic_cast<TMySQLLibrary*>(driver); library && SameText(GetName(), "ClientDLL"))
    return library->SetClientDLL(Value);
  UnknownProperty(GetName());
}

// ---------------------------------------------------------------------------
// Name lists

TPropertyAttributes TMySQLStringProperty::GetAttributes() {
  return {paValueList, paSortList, paMultiSelect};
}

void TMySQLStringProperty::GetValues(TStrings& List) {
  TStringList values;
  GetValueList(values);
  values.SetSorted(true);
  List.Assign(&values);
}

void TMySQLDatabaseNameProperty::GetValueList(TStrings& List) {
  TComponent* c = GetComponent(0);
  if (auto* server = dynamic_cast<TMySQLServer*>(c)) return server->GetDatabaseNames(&List);
  auto* ds = dynamic_cast<TMySQLDatasetBase*>(c);
  if (ds == nullptr || ds->Server() == nullptr) return ErrorBox("Must select Server first");
  ds->Server()->GetDatabaseNames(&List);
}

void TMySQLDSTableNameProperty::GetValueList(TStrings& List) {
  auto* ds = dynamic_cast<TMySQLDatasetBase*>(GetComponent(0));
  if (ds == nullptr || ds->Server() == nullptr || DatabaseOf(ds).empty())
    return ErrorBox(
        "Must select Server first and optionally a DatabaseName if the TMySQLServer does not "
        "have one set");
  ds->Server()->GetTableNames(DatabaseOf(ds), &List);
}

void TMySQLDSFieldNameProperty::GetValueList(TStrings& List) {
  auto* ds = dynamic_cast<TMySQLDatasetBase*>(GetComponent(0));
  if (ds == nullptr || ds->Server() == nullptr || DatabaseOf(ds).empty() || TableNameOf(ds).empty())
    return ErrorBox("Must select Server && DatabaseName && TableName first");
  ds->Server()->GetFieldNames(DatabaseOf(ds), TableNameOf(ds), &List);
}

// ---------------------------------------------------------------------------
// Driver kind

TPropertyAttributes TMySQLDriverKindProperty::GetAttributes() { return {paReadOnly}; }

void TMySQLDriverKindProperty::SetValue(const std::string&) {
  throw EConvertError("DriverKind is read only; choose the kind through DriverProperties");
}

TPropertyAttributes TMySQLDriverProperty::GetAttributes() {
  TPropertyAttributes attributes{paValueList, paMultiSelect};
  auto* server = dynamic_cast<TMySQLServer*>(GetComponent(0));
  if (server && server->DriverProperties()) attributes.Include(paSubProperties);
  return attributes;
}

std::string TMySQLDriverProperty::GetValue() { return ReadValue(GetComponent(0)); }

void TMySQLDriverProperty::SetValue(const std::string& Value) {
  const TMySQLDriverType kind = SameText(Value, "Library")    ? dtLibrary
                                : SameText(Value, "Embedded") ? dtEmbedded
                                                              : dtDirect;
  for (int i = 0; i < PropCount(); ++i)
    if (auto* server = dynamic_cast<TMySQLServer*>(GetComponent(i))) server->SetDriverType(kind);
}

void TMySQLDriverProperty::GetValues(TStrings& List) {
  List.Clear();
  List.Add("Direct");
  List.Add("Library");
  List.Add("Embedded");
}

std::vector<std::unique_ptr<TPropertyEditor>> TMySQLDriverProperty::GetProperties() {
  std::vector<std::unique_ptr<TPropertyEditor>> result;
  auto* server = dynamic_cast<TMySQLServer*>(GetComponent(0));
  if (server == nullptr || server->DriverProperties() == nullptr) return result;
  result.push_back(std::make_unique<TDriverSubProperty>(server, "Options"));
  if (dynamic_cast<TMySQLLibrary*>(server->DriverProperties()))
    result.push_back(std::make_unique<TDriverSubProperty>(server, "ClientDLL"));
  return result;
}

// ---------------------------------------------------------------------------
// MasterFields

TPropertyAttributes TMySQLMasterFieldsProperty::GetAttributes() { return {paDialog}; }

void TMySQLMasterFieldsProperty::Edit() {
  auto* ds = dynamic_cast<TMySQLDatasetBase*>(GetComponent(0));
  if (ds == nullptr || ds->MasterSource() == nullptr)
    return ErrorBox("You must specify a MasterSource first.");
  EditMasterFields(ds);
}

// ---------------------------------------------------------------------------
// Booleans

TPropertyAttributes TBooleanProperty::GetAttributes() { return {paValueList, paMultiSelect}; }

void TBooleanProperty::GetValues(TStrings& List) {
  List.Clear();
  List.Add("False");
  List.Add("True");
}

void TMySQLServerConnectedProperty::SetValue(const std::string& Value) {
  const bool on = ParseBool(Value);
  for (int i = 0; i < PropCount(); ++i) {
    auto* server = dynamic_cast<TMySQLServer*>(GetComponent(i));
    if (server == nullptr) continue;
    if (on && !server->GetConnected() && !server->DatabaseName().empty() &&
        server->Options().Contains(soAutoCreate) && server->Options().Contains(soDropIfExists)) {
      const std::string db = "\"" + server->DatabaseName() + "\"";
      if (!AskYesNo("You have chosen to AutoCreate this database, " + db +
                    ", if it does not exists and also enabled DropIfExists.  Be warned, if this "
                    "server is enabled now and " + db + " exists, you will lose ALL tables and "
                    "data in " + db + ". Do you wish to proceed?"))
        continue;
    }
    server->SetConnected(on);
  }
}

void TMySQLDatasetBaseActiveProperty::SetValue(const std::string& Value) {
  const bool on = ParseBool(Value);
  for (int i = 0; i < PropCount(); ++i) {
    auto* ds = dynamic_cast<TMySQLDatasetBase*>(GetComponent(i));
    if (ds == nullptr) continue;
    if (on && !ds->Active() && !MayActivate(ds)) continue;
    ds->SetActive(on);
  }
}

bool TMySQLDatasetBaseActiveProperty::MayActivate(TMySQLDatasetBase* ds) {
  TMySQLServer* server = ds->Server();
  if (server == nullptr) {
    ErrorBox("Please set the Server property with a TMySQLServer before enabling.");
    return false;
  }
  const TMySQLDatasetOptions options = OptionsOf(ds);
  const bool share = options.Contains(doShareConnection);
  const bool no_database = ds->DatabaseName().empty() && server->DatabaseName().empty();
  if (share && no_database &&
      !AskYesNo("Please specify a DatabaseName for either this dataset or it's TMySQLServer. "
                "Alternatively make sure you have specified a custom \"USE database;\" in an SQL "
                "property in a dataset sharing this connection/thread. If you have not done "
                "this, enabling this dataset will fail.  Do you wish to proceed?"))
    return false;
  // A dataset without a database name of its own uses the server's and
  // changes nothing for the others.
  if (share && !ds->DatabaseName().empty() && ds->DatabaseName() != server->DatabaseName() &&
      !AskYesNo("Please take note that this dataset shares the connection to the MySQL Server "
                "with it's server and currently also with " +
                std::to_string(server->DataSetCount() - 1) +
                " other datasets. Setting the databasename to another database than the "
                "TMySQLServer's will change the current database for all the datasets and "
                "TMySQLServer using this connection/thread. Do you wish to proceed?"))
    return false;
  if (!share && no_database &&
      !AskYesNo("This dataset will utilize it's own connection/thread to the MySQL server and "
                "as such needs to specify the database for the connection/thread, either in "
                "DatabaseName or in a \"USE database;\" statement in its SQL. If you have not "
                "done this, enabling this dataset will fail.  Do you wish to proceed?"))
    return false;
  const std::string table = TableNameOf(ds);
  if (table.empty()) {
    if (dynamic_cast<TMySQLTable*>(ds)) {
      ErrorBox("Please specify a TableName for this dataset.");
      return false;
    }
    if ((dynamic_cast<TMySQLDataset*>(ds) || dynamic_cast<TMySQLQuery*>(ds)) &&
        !AskYesNo("Without a TableName specified, this dataset will not be updateble: edits, "
                  "inserts and deletes need a TableName or your own SQLUpdate, SQLInsert and "
                  "SQLDelete.  Do you wish to proceed?"))
      return false;
  }
  if (!server->GetConnected() && !server->DatabaseName().empty() &&
      server->Options().Contains(soAutoCreate) && server->Options().Contains(soDropIfExists)) {
    const std::string db = "\"" + server->DatabaseName() + "\"";
    if (!AskYesNo("Enabling this dataset will automatically connect it's TMySQLServer, \"" +
                  server->Name() + "\", which has AutoCreate option set for database " + db +
                  ", which will recreate the database if it does not exists and also enabled is "
                  "DropIfExists.  Be warned, if this dataset is enabled now and " + db +
                  " exists, you will lose ALL tables and data in " + db +
                  ". Do you wish to proceed?"))
      return false;
  }
  const std::string database = DatabaseOf(ds);
  if (!table.empty() && !database.empty() && options.Contains(doAutoCreate) &&
      options.Contains(doDropIfExists)) {
    const std::string qualified = "\"" + database + "." + table + "\"";
    if (!AskYesNo("You have chosen to AutoCreate this table, " + qualified +
                  ", if it does not exists and also enabled DropIfExists.  Be warned, if this "
                  "dataset is enabled now and " + qualified + " exists you will lose ALL data "
                  "in " + qualified + ". Do you wish to proceed?"))
      return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Registry

void TDesignRegistry::RegisterComponents(const std::string& Page,
                                         std::vector<TPaletteEntry> Entries) {
  for (TPaletteEntry& e : Entries) {
    e.Page = Page;
    palette_.push_back(std::move(e));
  }
}

void TDesignRegistry::RegisterClass(const std::string& ClassName) {
  if (!IsClassRegistered(ClassName)) classes_.push_back(ClassName);
}

void TDesignRegistry::RegisterPropertyEditor(TPropertyEditorEntry Entry) {
  editors_.push_back(std::move(Entry));
}

std::vector<std::string> TDesignRegistry::PaletteClasses(const std::string& Page) const {
  std::vector<std::string> names;
  for (const TPaletteEntry& e : palette_)
    if (e.Page == Page) names.push_back(e.ClassName);
  return names;
}

bool TDesignRegistry::IsClassRegistered(const std::string& ClassName) const {
  for (const std::string& c : classes_)
    if (c == ClassName) return true;
  return false;
}

std::unique_ptr<TPropertyEditor> TDesignRegistry::GetPropertyEditor(
    const std::vector<TComponent*>& Components, const std::string& PropName) const {
  if (Components.empty()) return nullptr;
  for (const TPropertyEditorEntry& e : editors_) {
    if (!SameText(e.PropertyName, PropName)) continue;
    bool all = true;
    for (TComponent* c : Components)
      if (c == nullptr || !e.Matches(c) || !HasProperty(c, PropName)) all = false;
    if (all) return e.Create(Components, e.PropertyName);
  }
  return nullptr;
}

TDesignRegistry& DesignRegistry() {
  static TDesignRegistry registry;
  return registry;
}

namespace {

template <class Component>
TPaletteEntry Palette(const char* Name) {
  return {"", Name, [] { return std::unique_ptr<TComponent>(std::make_unique<Component>()); }};
}

template <class Editor, class Component>
TPropertyEditorEntry EditorEntry(const char* Type, const char* Class, const char* Property,
                                 const char* EditorName) {
  return {Type, Class, Property, EditorName,
          [](const TComponent* c) { return dynamic_cast<const Component*>(c) != nullptr; },
          [](std::vector<TComponent*> components, std::string name) {
            return std::unique_ptr<TPropertyEditor>(
                std::make_unique<Editor>(std::move(components), std::move(name)));
          }};
}

}  // namespace

void Register() {
  static bool done = false;
  if (done) return;
  done = true;
  TDesignRegistry& r = DesignRegistry();
  r.RegisterComponents("MySQL", {Palette<TMySQLServer>("TMySQLServer"),
                                 Palette<TMySQLDataset>("TMySQLDataset"),
                                 Palette<TMySQLTable>("TMySQLTable"),
                                 Palette<TMySQLQuery>("TMySQLQuery")});
  for (const char* c :
       {"TMySQLStringField", "TMySQLBase", "TViVURIzodor", "TMySQLLibrary", "TMySQLEmbedded"})
    r.RegisterClass(c);
  r.RegisterPropertyEditor(EditorEntry<TMySQLDriverKindProperty, TMySQLServer>(
      "TMySQLDriverType", "TMySQLServer", "DriverKind", "TMySQLDriverKindProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDriverProperty, TMySQLServer>(
      "TMySQLBase", "TMySQLServer", "DriverProperties", "TMySQLDriverProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDatabaseNameProperty, TMySQLServer>(
      "string", "TMySQLServer", "DatabaseName", "TMySQLDatabaseNameProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDatabaseNameProperty, TMySQLDatasetBase>(
      "string", "TMySQLDatasetBase", "DatabaseName", "TMySQLDatabaseNameProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDSTableNameProperty, TMySQLDatasetBase>(
      "string", "TMySQLDatasetBase", "TableName", "TMySQLDSTableNameProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDSFieldNameProperty, TMySQLDatasetBase>(
      "string", "TMySQLDatasetBase", "FieldName", "TMySQLDSFieldNameProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDSFieldNameProperty, TMySQLTable>(
      "string", "TMySQLTable", "IndexFieldNames", "TMySQLDSFieldNameProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLMasterFieldsProperty, TMySQLDatasetBase>(
      "string", "TMySQLDatasetBase", "MasterFields", "TMySQLMasterFieldsProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLDatasetBaseActiveProperty, TMySQLDatasetBase>(
      "boolean", "TMySQLDatasetBase", "Active", "TMySQLDatasetBaseActiveProperty"));
  r.RegisterPropertyEditor(EditorEntry<TMySQLServerConnectedProperty, TMySQLServer>(
      "boolean", "TMySQLServer", "Connected", "TMySQLServerConnectedProperty"));
}

}  // namespace rowset
