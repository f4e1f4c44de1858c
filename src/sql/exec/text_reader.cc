#include "sql/exec/text_reader.h"

#include "sql/common/sql_exception.h"
#include "sql/common/sql_schema.h"
#include "sql/common/value_store.h"
#include "sql/exec/column_ref_scope.h"
#include "sql/exec/rs_fetch.h"
#include "sql/exec/rs_filter.h"
#include "sql/exec/rs_sort.h"
#include "sql/exec/sc_column_ref.h"
#include "sql/exec/sc_comparison.h"
#include "sql/exec/sort_spec.h"

namespace {

SQLTextReader *g_reader = nullptr;

// Column ids of the texts table, looked up once per process.
constexpr int kUnknown = -2;
int g_ctxt = kUnknown, g_clan = kUnknown, g_seqe = kUnknown, g_text = kUnknown;

void LookUpColumns() {
  if (g_ctxt != kUnknown) return;
  SQLSchemaPtr schema = SQLSchemaMgr::GetSchema(SQLTextReader::kTableName);
  int ctxt = schema->GetColumnId("ctxt");
  int clan = schema->GetColumnId("clan");
  int seqe = schema->GetColumnId("seqe");
  int text = schema->GetColumnId("text");
  if (ctxt < 0 || clan < 0 || seqe < 0 || text < 0)
    throw SQLException("42S22", 0, SQLString("The texts table lacks one of ctxt, clan, seqe and text"));
  g_ctxt = ctxt, g_clan = clan, g_seqe = seqe, g_text = text;
}

// column = parameter, over the leaf's columns.
SQLRSSCSearchCond *Equals(SQLRowSource *leaf, int column, SQLParameter const *parameter) {
  auto *left = new pSQLRSSCValueExprList;
  left->Append(new SQLRSSCColumnRef(0, column, leaf->GetColumnDescriptor(column)));
  auto *right = new pSQLRSSCValueExprList;
  right->Append(new SQLRSSCParameterRef(parameter));
  return new SQLRSSCComparison(left, SQLRSSC_EQUAL, right);
}

}  // namespace

SQLTextReader *SQLTextReader::Instance() {
  if (g_reader == nullptr) g_reader = new SQLTextReader();
  return g_reader;
}

void SQLTextReader::DeleteInstance() {
  delete g_reader;
  g_reader = nullptr;
}

SQLTextReader::SQLTextReader() = default;

SQLTextReader::~SQLTextReader() = default;

void SQLTextReader::DropFetcher() {
  fetcher_.reset();
  text_ = nullptr;
  session_ = 0;
  companyNumber_ = -1;
}

void SQLTextReader::BuildFetcher(int companyNumber) {
  LookUpColumns();
  textNumber_.SetType(SQL_INTEGER, 0, 1);
  language_.SetType(SQL_STRING, 0, 1);
  // Each node owns what it is built from, so a failure frees what was built.
  std::unique_ptr<SQLRowSource> leaf(SQLRSFetch::CreateRSFetch(kTableName, companyNumber, nullptr));
  std::unique_ptr<SQLRSSCSearchCond> byNumber(Equals(leaf.get(), g_ctxt, &textNumber_));
  std::unique_ptr<SQLRSSCSearchCond> byLanguage(Equals(leaf.get(), g_clan, &language_));
  std::unique_ptr<SQLRSSCSearchCond> condition(new SQLRSSCAnd(byNumber.release(), byLanguage.release()));
  std::unique_ptr<SQLRowSource> filter(new SQLRSFilter(leaf.release(), condition.release()));
  auto order = std::make_unique<SQLSortSpecList>();
  order->Append(SQLSortSpec(g_seqe, SQLSortSpec::kAscending));
  std::unique_ptr<SQLRowSource> sort(new SQLRSSort(filter.release(), order.release()));
  std::unique_ptr<SQLRowSource> fetcher(sort.release()->OptimizeRS());
  SQLRSPrepareContext context;
  fetcher->Prepare(&context);
  text_ = fetcher->GetValueStoreAddr(g_text);
  fetcher_ = std::move(fetcher);
  companyNumber_ = companyNumber;
  ++builds_;
}

void SQLTextReader::ReadText(int textNumber, unsigned char language, int companyNumber, unsigned long session,
                             SQLValueStore *out) {
  if (fetcher_ && companyNumber_ != companyNumber) DropFetcher();
  if (!fetcher_) BuildFetcher(companyNumber);
  if (session_ != 0 && session_ != session) {
    fetcher_->Close();
    session_ = 0;
  }
  if (session_ == 0) {
    fetcher_->Attach(session);
    session_ = session;
  }
  textNumber_.BindInteger(textNumber);
  language_.BindString(&language, 1);
  fetcher_->Exec();
  try {
    if (fetcher_->Fetch() == 0) {
      out->SetString(nullptr, 0);
      out->SetNull();
    } else {
      out->SetString(text_->GetBytes(), text_->GetLength());
      while (fetcher_->Fetch() != 0) out->AppendString(text_->GetBytes(), text_->GetLength());
      out->StripTrailingSpaces();
    }
  } catch (...) {
    fetcher_->Break();
    throw;
  }
  fetcher_->Break();
}

void SQLTextReader::DetachFromSession(unsigned long) {
  if (!fetcher_ || session_ == 0) return;
  fetcher_->Close();
  session_ = 0;
}
