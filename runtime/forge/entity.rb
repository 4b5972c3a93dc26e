# ORB::Entity: process-wide entity ids and the constructors behind
# `args.state.new_entity` and `new_entity_strict`.
module ORB
  class Entity
    @id = 0
    @strict_entities = {}

    class << self
      attr_reader :strict_entities

      def id!
        @id += 1
      end

      def __reset_id__!
        @id = 0
      end

      def new_entity(entity_type, init_hash = nil, &block)
        entity = OpenEntity.new(entity_type)
        hash = entity.as_hash
        hash[:entity_type] = entity_type
        hash[:created_at] = Kernel.tick_count
        hash[:global_created_at] = Kernel.global_tick_count
        init_hash.each { |k, v| hash[k] = v } if init_hash
        block.call(entity) if block
        entity
      end

      def new_entity_strict(entity_type, init_hash = nil, &block)
        klass = @strict_entities[entity_type]
        unless klass
          prototype = new_entity(entity_type, init_hash, &block)
          keys = []
          init_hash.each_key { |k| keys << k.to_sym } if init_hash
          prototype.as_hash.each_key { |k| keys << k.to_sym }
          klass = StrictEntity.__define_for__(entity_type, keys.uniq)
          @strict_entities[entity_type] = klass
        end
        entity = klass.new
        entity.__init_strict__(entity_type, init_hash)
        block.call(entity) if block
        entity
      end

      def parse_serialization_data(value)
        value
      end
    end
  end
end
