-- 负结存记入库存调整记录后清零，待盘点后补录出入库单
insert into StockAdjust (cWhCode, cInvCode, nQty, mAmount, cReason, dDate)
select cWhCode, cInvCode, -nQty, -mAmount, '负结存清零（数据体检修复）', getdate()
from Stock
where nQty < 0 or mAmount < 0
GO
update Stock set nQty = 0, mAmount = 0 where nQty < 0 or mAmount < 0
GO
