-- pandoc filter for the man pages: a terminal shows them at 80 columns, where a table of long
-- cells breaks (groff: "table wider than line width"). Each row becomes an entry of a list: the
-- first cell the term, each other cell a paragraph below it, led by its column's heading.
function Table(tbl)
  local headings = {}
  for _, row in ipairs(tbl.head.rows) do
    for i, cell in ipairs(row.cells) do headings[i] = pandoc.utils.stringify(cell.contents) end
  end
  local items = {}
  for _, body in ipairs(tbl.bodies) do
    for _, row in ipairs(body.body) do
      local term = pandoc.utils.blocks_to_inlines(row.cells[1].contents)
      local paragraphs = {}
      for i = 2, #row.cells do
        local text = pandoc.utils.blocks_to_inlines(row.cells[i].contents)
        if #text > 0 then
          local lead = pandoc.List()
          if #row.cells > 2 and (headings[i] or "") ~= "" then
            lead = pandoc.List({ pandoc.Emph({ pandoc.Str(headings[i] .. ":") }), pandoc.Space() })
          end
          table.insert(paragraphs, pandoc.Para(lead .. text))
        end
      end
      table.insert(items, { term, { paragraphs } })
    end
  end
  return pandoc.DefinitionList(items)
end
