// Style templates: named sets of text and paragraph properties with a unique id and an
// optional parent; applying a template to a style copies what it and its ancestors define,
// keeps what the user changed by hand and takes the rest from the "Normal" template or
// from style 0 of the style sheet.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/classes.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVStyle_list.h"

namespace pelvar {

class TRVStyleTemplate;
class TRVStyleTemplateCollection;

// The styles a template holds; they report their template as owner.
// The base properties StyleTemplateId, StyleName, Standard and BaseStyleNo are not theirs
// and are not streamed.
class TRVSTFontInfo : public TCustomRVFontInfo {
 public:
  explicit TRVSTFontInfo(TRVStyleTemplate* owner) : TCustomRVFontInfo(nullptr), Owner(owner) {}
  TRVStyleTemplate* Owner;
  void DefinePublished(TPublishedProperties& props) override;
};
class TRVSTParaInfo : public TCustomRVParaInfo {
 public:
  explicit TRVSTParaInfo(TRVStyleTemplate* owner) : TCustomRVParaInfo(nullptr), Owner(owner) {}
  TRVStyleTemplate* Owner;
  void DefinePublished(TPublishedProperties& props) override;
};
class TRVSTListInfo : public TRVListInfo {
 public:
  explicit TRVSTListInfo(TRVStyleTemplate* owner) : TRVListInfo(nullptr), Owner(owner) {}
  TRVStyleTemplate* Owner;
};

class TRVStyleTemplate : public TCollectionItem {
 public:
  explicit TRVStyleTemplate(TCollection* collection);
  ~TRVStyleTemplate() override;

  TRVSTFontInfo TextStyle{this};
  TRVSTParaInfo ParaStyle{this};
  TRVSTListInfo ListStyle{this};
  TRVFontInfoProperties ValidTextProperties;
  TRVParaInfoProperties1 ValidParaProperties1;
  TRVParaInfoProperties2 ValidParaProperties2;

  const AnsiString& Name() const { return name_; }
  void SetName(const AnsiString& value);
  AnsiString DisplayName() const override { return name_; }
  // Created at the first read (unique in the collection).
  TRVStyleTemplateId Id();
  void SetIdValue(TRVStyleTemplateId value) { id_ = value; }  // the streamed "IDProp"
  TRVStyleTemplateId ParentId() const { return parent_id_; }
  // Raises EDocViewError "Circular references are not allowed" (leaving no parent) when
  // the parent would make this template its own ancestor.
  void SetParentId(TRVStyleTemplateId value);
  TRVStyleTemplate* Parent() const { return parent_; }
  const std::vector<TRVStyleTemplate*>& Children() const { return children_; }

  void Assign(TPersistent* source) override;
  void ApplyToTextStyle(TCustomRVFontInfo* text_style, TCustomRVParaInfo* para_style, bool override_modified);
  void ApplyToParaStyle(TCustomRVParaInfo* para_style, bool override_modified);

  // Component streaming: TextStyle, ParaStyle, the three valid sets, Name and ParentId;
  // the id as "IDProp".
  void DefinePublished(TPublishedProperties& props) override;

 protected:
  void DefineProperties(TFiler* filer) override;

 private:
  friend class TRVStyleTemplateCollection;
  TRVStyleTemplateCollection* Templates() const;
  bool Active() const;
  void AddChild(TRVStyleTemplate* child);
  void RemoveChild(TRVStyleTemplate* child);
  TRVFontInfoProperties CollectText(TCustomRVFontInfo* target, TRVFontInfoProperties mask);
  TRVParaInfoProperties CollectPara(TCustomRVParaInfo* target, TRVParaInfoProperties mask);

  AnsiString name_;
  TRVStyleTemplateId id_ = 0;
  TRVStyleTemplateId parent_id_ = -1;
  TRVStyleTemplate* parent_ = nullptr;
  std::vector<TRVStyleTemplate*> children_;
};

class TRVStyleTemplateCollection : public TCollection {
 public:
  explicit TRVStyleTemplateCollection(TRVStyle* style);
  ~TRVStyleTemplateCollection() override;

  AnsiString DefStyleName = "Style %d";
  TRVStyle* Style() const { return style_; }
  TRVStyleTemplate* NormalStyleTemplate() const { return normal_; }

  TRVStyleTemplate* Add() { return static_cast<TRVStyleTemplate*>(TCollection::Add()); }
  TRVStyleTemplate* Items(int32_t index) const { return static_cast<TRVStyleTemplate*>(TCollection::Items(index)); }
  int32_t IndexOfId(TRVStyleTemplateId id) const;
  void Assign(TPersistent* source) override;
  void AssignEx(TRVStyleTemplateCollection* source, bool copy_ids);
  void ResetTextStyle(TCustomRVFontInfo* text_style, TCustomRVParaInfo* para_style);
  void ResetParaStyle(TCustomRVParaInfo* para_style);
  // Resolves every ParentId read from a stream into parent and child links.
  void UpdateParentReferences();

 protected:
  TPersistent* GetOwner() const override { return style_; }

 private:
  friend class TRVStyleTemplate;
  TRVStyle* style_;
  int32_t name_counter_ = 0;
  TRVStyleTemplate* normal_ = nullptr;
};

}  // namespace pelvar
