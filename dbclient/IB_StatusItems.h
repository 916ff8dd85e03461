// Items of a status inspector: each describes one live component (form, data module,
// connection, transaction, statement or data source) as text — its category, its
// related components as child nodes of a tree, and "Name=value" detail lines.
//
// The inspector window is not part of this system; TInterestingInspector is the model
// such a window would show (the components it knows and the tree of items). Nothing in
// the program creates one.
//
// Forms and data modules belong to the program, datasets and data sources to the
// statement engine's later parts; the inspector reads them through the small IB_Status*
// interfaces below, which those classes implement besides being components.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

class TIB_Session;
class TInterestingInspector;
class TInterestingItem;

// A form of the program.
class IB_StatusForm {
 public:
  virtual ~IB_StatusForm() = default;
  virtual bool StatusVisible() const = 0;
};

// A data module of the program.
class IB_StatusDataModule {
 public:
  virtual ~IB_StatusDataModule() = default;
};

// A dataset (a statement that fetches rows).
class IB_StatusDataset {
 public:
  virtual ~IB_StatusDataset() = default;
  virtual bool StatusActive() const = 0;
  // The rows held in its buffers.
  virtual int32_t StatusBufferCount() const = 0;
  // The dataset state: 0 inactive, 1 prepared, 2 search, 3 browse, 4 edit, 5 insert,
  // 6 delete.
  virtual int32_t StatusState() const = 0;
};

// A data source: its dataset and the number of its data links.
class IB_StatusDataSource {
 public:
  virtual ~IB_StatusDataSource() = default;
  virtual TComponent* StatusDataset() const = 0;
  virtual int32_t StatusDataLinkCount() const = 0;
};

// "" for values not above 0; otherwise the whole days and "+" when there is at least
// one, then hours, minutes and seconds (whole numbers) separated by ':'.
AnsiString FormatDuration(double Days);

// One node of the inspector's tree: its text, the item it shows (owned; none for a
// category header) and its children (owned).
struct TInterestingNode {
  AnsiString Text;
  std::unique_ptr<TInterestingItem> Item;
  TInterestingNode* Parent = nullptr;
  std::vector<std::unique_ptr<TInterestingNode>> Children;

  TInterestingNode* AddChild(const AnsiString& Text);
};

class TInterestingItem : public TObject {
 public:
  TInterestingItem(TInterestingInspector* Inspector, TComponent* Component);

  TInterestingInspector* Inspector() const { return inspector_; }
  // The described component; nullptr once it has gone.
  TComponent* Component() const { return component_; }
  TInterestingNode* Node() const { return node_; }
  TStringList* Details() { return &details_; }

  // The header of the item's category: "[?]" here.
  virtual AnsiString GetCategory();
  // Adds the related components as child nodes of this item's node.
  virtual void AddChildItems();
  // Refills the detail lines: the base lines (name, class, owner, session), then the
  // class's own.
  virtual void FillDetails();

  // Counts over the inspector's components (only those owned by Owner when given) and
  // adds the summary lines; without Owner also the forms, the data modules and the
  // default session's list sizes.
  void AddSummary(TComponent* Owner);

 protected:
  friend class TInterestingInspector;
  // Adds an item for C under this item's node (nothing for nullptr).
  void AddChild(TComponent* C);
  void Add(const AnsiString& Name, const AnsiString& Value);

  TInterestingInspector* inspector_;
  TComponent* component_;
  TInterestingNode* node_ = nullptr;
  TStringList details_;
};

class TInterestingForm : public TInterestingItem {
 public:
  using TInterestingItem::TInterestingItem;
  AnsiString GetCategory() override;
  void AddChildItems() override;
  void FillDetails() override;
};

class TInterestingDataModule : public TInterestingItem {
 public:
  using TInterestingItem::TInterestingItem;
  AnsiString GetCategory() override;
  void AddChildItems() override;
  void FillDetails() override;
};

class TInterestingConnection : public TInterestingItem {
 public:
  using TInterestingItem::TInterestingItem;
  AnsiString GetCategory() override;
  void AddChildItems() override;
  void FillDetails() override;
};

class TInterestingTransaction : public TInterestingItem {
 public:
  using TInterestingItem::TInterestingItem;
  AnsiString GetCategory() override;
  void AddChildItems() override;
  void FillDetails() override;
};

class TInterestingStatement : public TInterestingItem {
 public:
  using TInterestingItem::TInterestingItem;
  AnsiString GetCategory() override;
  void AddChildItems() override;
  void FillDetails() override;
};

class TInterestingDataSource : public TInterestingItem {
 public:
  using TInterestingItem::TInterestingItem;
  AnsiString GetCategory() override;
  void AddChildItems() override;
  void FillDetails() override;
};

// The inspector's model: the components it knows (each is forgotten, with the items
// that describe it, when it is destroyed) and the tree of items.
class TInterestingInspector : public TComponent {
 public:
  explicit TInterestingInspector(TComponent* Owner = nullptr);
  ~TInterestingInspector() override;

  void AddComponent(TComponent* C);
  void RemoveComponent(TComponent* C);
  const std::vector<TComponent*>& Known() const { return known_; }

  // The item class that describes C; nullptr for a component of no category.
  static std::unique_ptr<TInterestingItem> CreateItem(TInterestingInspector* Inspector,
                                                      TComponent* C);
  // Adds an item for C as a child of Parent (the root when nullptr); nullptr when C
  // has no category.
  TInterestingItem* AddItem(TComponent* C, TInterestingNode* Parent = nullptr);
  // Rebuilds the tree: one header per category in the order forms, data modules,
  // connections, transactions, statements, data sources, each with the known
  // components of that category and their children.
  void Refresh();
  TInterestingNode& Root() { return root_; }

  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  void Forget(TInterestingNode& Node, TComponent* C);
  // Asks C for its free notification once.
  void Watch(TComponent* C);

  std::vector<TComponent*> known_;
  // Every component asked for its free notification: the known ones and those that
  // items describe.
  std::vector<TComponent*> watched_;
  TInterestingNode root_;
};

}  // namespace pelvar
